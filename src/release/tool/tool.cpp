#include "release/tool/tool.h"

#include <exception>
#include <sstream>

#include "release/tool/files.h"

namespace release::tool {

namespace {

struct Option {
  const char* name;
  const char* value;  // the value's placeholder; null for a flag
  const char* help;
  bool required = false;
  const char* shortName = nullptr;  // "-s", the same option
  bool repeatable = false;          // may be given more than once (Invocation::values)
};

struct Command {
  const char* name;
  const char* operands;  // placeholders, blank-separated
  const char* summary;
  std::vector<Option> options;
  int (*run)(const Invocation&, const Console&);
};

const char kEncodingHelp[] =
    "code page of the names in update.ini: gbk (code page 936, read by the Windows updater; the "
    "default) or utf-8 (read by the Linux updater)";

const std::vector<Command>& commands() {
  static const std::vector<Command> table{
      {"pack",
       "DIR",
       "write DIR/update.ini listing every file under DIR with its size and SHA-256 (but "
       "DIR/delta/, which holds the patches and compressed copies, named by their SHA-256)",
       {{"--version", "V", "the release's version text, shown to the user", true},
        {"--since", "OLD_DIR",
         "list only the files that are new or differ from those of the release in OLD_DIR"},
        {"--delta-from", "OLD_DIR",
         "for each listed file that differs from the file of the same name in OLD_DIR, write a "
         "patch from that file into DIR/delta/ and list it where it is smaller than the file (or "
         "its compressed copy); may be given once per older release",
         false, nullptr, true},
        {"--compress", nullptr,
         "write a compressed copy (zstd) into DIR/delta/ of every file that it makes at least 10% "
         "smaller, and list it"},
        {"--encoding", "gbk|utf-8", kEncodingHelp},
        {"--expires", "DAYS|never",
         "write [Release] Expires= (UTC, DAYS days from now), after which an updater that checks "
         "signatures refuses the list; with --sign the default is 30 days, and never (no Expires, "
         "the default without --sign) is refused, since such an updater refuses a signed list "
         "that never expires"},
        {"--sign", "KEY",
         "sign update.ini with the secret key file KEY, as sign does (re-sign or pack again well "
         "before the list expires)"}},
       pack},
      {"verify",
       "DIR",
       "check every file that DIR/update.ini lists, and its patches and compressed copy, against "
       "their sizes and SHA-256, and that each copy gives its file",
       {{"--public-key", "PUBKEY",
         "also check DIR/update.ini as an updater built with the public key PUBKEY (a .pub file, "
         "or the base64 line of one) does: DIR/update.ini.minisig, an Expires not yet past, a "
         "version of dotted numbers, a size and a hash for every file, and a signing time in the "
         "trusted comment",
         false, "-p"},
        {"--delta-from", "OLD_DIR",
         "also apply each listed patch to its file in OLD_DIR (where that is the file it was made "
         "from) and check the result; may be given once per older release",
         false, nullptr, true},
        {"--encoding", "gbk|utf-8", kEncodingHelp}},
       verify},
      {"keygen",
       "",
       "make a new key pair in minisign's formats: NAME.pub, the public key the updater's build "
       "pins, and NAME.key, the secret key (without a password: keep it offline); never replaces "
       "a file",
       {{"--out", "NAME", "the files' name without .pub and .key (default: release)"}},
       keygen},
      {"sign",
       "DIR",
       "write DIR/update.ini.minisig, the signature of DIR/update.ini; refuses a list that an "
       "updater checking signatures would refuse (without Expires or expired, a version that is "
       "not dotted numbers, a file without its size or hash)",
       {{"--secret-key", "KEY", "the secret key file that keygen wrote (or minisign -G -W)", true,
         "-s"}},
       sign},
      {"check",
       "URL",
       "fetch URL/update.ini (URL as the updater's registry value URL holds it, ending in /) and "
       "every file, compressed copy and patch it lists through the updater's own HTTP client, as "
       "a client gets them, and compare each with its listed size and SHA-256; prints one line a "
       "file with what is listed, what is served and any redirect on the way",
       {{"--public-key", "PUBKEY",
         "also fetch URL/update.ini.minisig and check update.ini as an updater built with the "
         "public key PUBKEY does (as verify -p does); the list and its signature are then taken "
         "from wherever the server redirects, as such an updater takes them",
         false, "-p"},
        {"--encoding", "gbk|utf-8", kEncodingHelp}},
       check},
  };
  return table;
}

const Command* findCommand(const std::string& name) {
  for (const Command& command : commands())
    if (name == command.name) return &command;
  return nullptr;
}

std::string usageLine(const Command& command) {
  std::string line = std::string("updater-release ") + command.name;
  if (*command.operands) line += std::string(" ") + command.operands;
  for (const Option& option : command.options) {
    line += option.required ? " " : " [";
    line += option.shortName ? option.shortName : option.name;
    if (option.value) line += std::string(" ") + option.value;
    if (!option.required) line += "]";
    if (option.repeatable) line += "...";
  }
  return line;
}

void printHelp(std::ostream& out) {
  out << "updater-release: makes and checks the release folders the updater downloads from.\n\n"
         "Usage:\n";
  for (const Command& command : commands()) {
    out << "  " << usageLine(command) << "\n      " << command.summary << "\n";
    for (const Option& option : command.options)
      out << "      " << (option.shortName ? option.shortName + std::string(", ") : "")
          << option.name << (option.value ? std::string(" ") + option.value : "") << ": "
          << option.help << "\n";
  }
  out << "  updater-release COMMAND --help\n      this text\n\n"
         "Exit codes: 0 done, 1 refused or failed, 2 wrong usage.\n";
}

int usageError(const std::string& message, const Command* command, std::ostream& err) {
  err << "updater-release: " << message << "\n";
  if (command) {
    err << "usage: " << usageLine(*command) << "\n";
  } else {
    err << "usage: updater-release COMMAND ... (commands:";
    for (const Command& c : commands()) err << " " << c.name;
    err << "); see updater-release --help\n";
  }
  return kUsage;
}

size_t operandCount(const Command& command) {
  std::istringstream words(command.operands);
  size_t count = 0;
  for (std::string word; words >> word;) ++count;
  return count;
}

}  // namespace

int Console::fail(const std::string& command, const std::string& message) const {
  err << "updater-release " << command << ": " << message << "\n";
  return kFailed;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return usageError("no command given", nullptr, err);
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    printHelp(out);
    return kOk;
  }
  const Command* command = findCommand(args[0]);
  if (!command) return usageError("unknown command \"" + args[0] + "\"", nullptr, err);

  Invocation invocation;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      printHelp(out);
      return kOk;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      invocation.operands.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string given = arg.substr(0, equals);
    const Option* option = nullptr;
    for (const Option& candidate : command->options)
      if (given == candidate.name || (candidate.shortName && given == candidate.shortName))
        option = &candidate;
    if (!option) return usageError(command->name + (" does not know " + given), command, err);
    const std::string name = option->name;
    if (invocation.options.count(name) && !option->repeatable)
      return usageError(name + " given twice", command, err);
    if (!option->value) {
      if (equals != std::string::npos) return usageError(given + " takes no value", command, err);
      invocation.options[name] = "";
    } else if (equals != std::string::npos) {
      invocation.options[name] = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      invocation.options[name] = args[++i];
    } else {
      return usageError(given + " needs a value (" + option->value + ")", command, err);
    }
    if (option->repeatable) invocation.repeated[name].push_back(invocation.options[name]);
  }
  const size_t wanted = operandCount(*command);
  if (invocation.operands.size() < wanted)
    return usageError(std::string(command->name) + " needs " + command->operands, command, err);
  if (invocation.operands.size() > wanted)
    return usageError("unexpected argument \"" + invocation.operands[wanted] + "\"", command, err);
  for (const Option& option : command->options) {
    if (option.required && !invocation.options.count(option.name))
      return usageError(std::string(command->name) + " needs " +
                            (option.shortName ? option.shortName : option.name) + " " +
                            option.value,
                        command, err);
  }
  const Console console{out, err};
  try {
    return command->run(invocation, console);
  } catch (const UsageError& error) {
    return usageError(error.message, command, err);
  } catch (const std::exception& error) {
    return console.fail(command->name, error.what());
  }
}

}  // namespace release::tool
