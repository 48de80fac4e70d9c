#include "platform/command_line.h"

namespace platform {

std::vector<std::string> splitCommandLine(const char* p) {
  std::vector<std::string> args;
  bool programName = true;
  while (true) {
    while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
    if (!*p) break;
    std::string arg;
    bool quoted = false;
    while (*p && (quoted || static_cast<unsigned char>(*p) > ' ')) {
      if (*p == '"')
        quoted = !quoted;
      else
        arg += *p;
      ++p;
    }
    if (!programName) args.push_back(arg);
    programName = false;
  }
  return args;
}

}  // namespace platform
