// Entry of the publisher's tool: the arguments as UTF-8, whatever the system.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "release/tool/files.h"
#include "release/tool/tool.h"

#ifdef _WIN32
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  // Names are printed in UTF-8, which the console shows whatever its code
  // page; the console gets its own code page back at the end.
  const UINT consoleCodePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(release::tool::utf8Of(std::filesystem::path(argv[i])));
  const int code = release::tool::run(args, std::cout, std::cerr);
  std::cout.flush();
  if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
  return code;
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return release::tool::run(args, std::cout, std::cerr);
}
#endif
