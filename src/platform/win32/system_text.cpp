// Unicode text in the ANSI code page, through the system's own conversions.
#include <windows.h>

#include "ini/system_text.h"
#include "platform/win32/ansi_text.h"

namespace ini {

std::string systemTextFromUtf16(std::u16string_view units) {
  return platform::ansiFromWide({reinterpret_cast<const wchar_t*>(units.data()), units.size()});
}

std::string systemTextFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int count = static_cast<int>(utf8.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), count, nullptr, 0);
  std::u16string units(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), count, reinterpret_cast<wchar_t*>(units.data()),
                      size);
  return systemTextFromUtf16(units);
}

}  // namespace ini
