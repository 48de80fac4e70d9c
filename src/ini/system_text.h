// Unicode text as the system's own text, for the profile reader: the ANSI code
// page on Windows (as the Windows profile reader converts it), UTF-8 on the
// other systems. Each system's own implementation provides it
// (platform/win32, platform/posix).
#pragma once

#include <string>
#include <string_view>

namespace ini {

std::string systemTextFromUtf8(std::string_view utf8);
std::string systemTextFromUtf16(std::u16string_view units);

}  // namespace ini
