// What the tool's commands share: paths from UTF-8 names, the --encoding
// option, hashing files with a progress line, reading keys and signing
// update.ini, and the usage error a command raises for an option it cannot use.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "release/codepage.h"
#include "release/minisign.h"
#include "release/release_list.h"
#include "release/sha256.h"
#include "release/tool/tool.h"

namespace release::tool {

namespace fs = std::filesystem;

// Raised by a command for arguments it cannot use; reported with its usage.
struct UsageError {
  std::string message;
};

fs::path pathOf(const std::string& utf8);
std::string utf8Of(const fs::path& path);
// The text in double quotes, as messages show names.
std::string quoted(const std::string& text);

// The whole file; nullopt when it cannot be read.
std::optional<std::string> readBytes(const fs::path& path);

// --encoding: gbk (the default) or utf-8.
Encoding encodingOf(const Invocation& invocation);
const char* encodingName(Encoding encoding);

// "1.5 GiB", "12 bytes"
std::string byteText(uint64_t bytes);

// A line on the error stream while long work goes on: shown only once the
// work has taken a second, then redrawn at most a few times a second, and
// ended when the object goes.
class Progress {
 public:
  // `what` names the work on the line ("hashing").
  Progress(std::ostream& err, uint64_t total, std::string what = "hashing");
  ~Progress();
  void add(uint64_t bytes);

 private:
  std::ostream& err_;
  uint64_t total_;
  std::string what_;
  uint64_t done_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point shownAt_;
  bool shown_ = false;
};

// The file's SHA-256 and its length, read once; raises std::runtime_error
// when it cannot be read.
struct FileDigest {
  uint64_t size = 0;
  Digest sha256{};
};
FileDigest hashFile(const fs::path& path, Progress& progress);

// The current time in seconds since 1970 (UTC).
int64_t unixNow();

// The unencrypted minisign secret key in the file; raises std::runtime_error
// saying why it cannot be used.
SecretKey readSecretKey(const std::string& file);
// The public key in the file (a .pub file or its base64 line alone), or the
// base64 line given as the text itself; raises std::runtime_error.
PublicKey readPublicKey(const std::string& fileOrLine);
// Reads update.ini's bytes into `list` as the updater does; returns why the
// updater refuses them (a name or value it does not take, no [FileList] or
// [Version] section), empty when it reads them.
std::string readAsTheUpdater(const std::string& bytes, ReleaseList& list);
// One finding about update.ini on a command's report: whether it holds, and
// its text.
using ListReport = std::function<void(bool holds, const std::string& what)>;
// Whether the command was given a public key (-p) to check update.ini with.
bool checksSignature(const Invocation& invocation);
// Reads update.ini's bytes into `list` as the updater does and, given -p,
// checks them as an updater built with that key does: the signature
// (update.ini.minisig's bytes, empty when there is none) over the exact
// bytes, then what such an updater requires of the list whatever it has
// installed; each finding goes to report, in the updater's order and words.
// False when the updater cannot read the list at all. Raises
// std::runtime_error for a key that cannot be read.
bool checkListAsTheUpdater(const std::string& bytes, const std::string& signatureBytes,
                           const Invocation& invocation, const Console& console,
                           const ListReport& report, ReleaseList& list);
// How a report's line begins: "ok   " for a finding that holds, "FAIL " for
// one that does not.
inline const char* lineMark(bool holds) {
  return holds ? "ok   " : "FAIL ";
}
// The line that ends a report made without -p.
extern const char kNoSignatureChecked[];
// Writes root/update.ini.minisig over the exact bytes of root/update.ini and
// says so on out; raises std::runtime_error when either file fails, and
// writes nothing for a list that an updater checking signatures would refuse
// whatever it has installed (see signedListProblem).
void signList(const fs::path& root, const SecretKey& key, const Console& console);

}  // namespace release::tool
