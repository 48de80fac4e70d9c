// Text in the system's code page (the program's own narrow text on
// Windows) as the UTF-16 the wide API functions take, and back.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform {

// Empty for empty text or text the code page cannot convert.
inline std::wstring wideFromAnsi(std::string_view text) {
  const int length = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), units);
  return wide;
}

// Empty for empty text; characters the code page lacks become its default.
inline std::string ansiFromWide(std::wstring_view wide) {
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), length, text.data(), size, nullptr, nullptr);
  return text;
}

}  // namespace platform
