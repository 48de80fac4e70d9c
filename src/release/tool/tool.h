// The publisher's tool, updater-release: one entry per command in a table, each
// with its operands and options, so that a new command is one more entry and
// one more function. Texts go to `out`, failures and progress to `err`; paths
// and names are UTF-8.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace release::tool {

// Exit codes: 0 success, 1 refused or failed, 2 a usage error.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// One command's arguments once they have been parsed against its table entry.
struct Invocation {
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;  // "--since" -> "OLD_DIR"; flags map to ""
  // Every value of an option that may be given more than once, in order.
  std::map<std::string, std::vector<std::string>> repeated;
  std::string option(const std::string& name, const std::string& def = "") const {
    auto found = options.find(name);
    return found == options.end() ? def : found->second;
  }
  std::vector<std::string> values(const std::string& name) const {
    auto found = repeated.find(name);
    return found == repeated.end() ? std::vector<std::string>{} : found->second;
  }
};

struct Console {
  std::ostream& out;
  std::ostream& err;
  // Reports a refusal or failure of the command and returns kFailed.
  int fail(const std::string& command, const std::string& message) const;
};

int pack(const Invocation& invocation, const Console& console);
int verify(const Invocation& invocation, const Console& console);
int keygen(const Invocation& invocation, const Console& console);
int sign(const Invocation& invocation, const Console& console);
int check(const Invocation& invocation, const Console& console);

// Runs the command line (without the program's name).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace release::tool
