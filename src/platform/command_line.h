#pragma once

#include <string>
#include <vector>

namespace platform {

// Splits a Windows command line the way the program's runtime does: blanks and
// control characters separate, double quotes group and are removed, there is
// no escape character. The program name (the first item) is left out.
std::vector<std::string> splitCommandLine(const char* commandLine);

}  // namespace platform
