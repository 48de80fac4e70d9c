// File names compared as Windows compares them: without regard to case, by
// its table of upper cases, beyond ASCII too ("Ä.dll" and "ä.dll" are one file).
#pragma once

#include <string>
#include <string_view>

namespace base {

// The UTF-8 name with every character Windows' table maps put in upper case;
// two names that give the same text name one file on Windows. Bytes that are
// not UTF-8 are kept as they are.
std::string foldedAsWindows(std::string_view utf8);

}  // namespace base
