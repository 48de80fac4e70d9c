// Code page conversion through UTF-16 with the system's own tables, refusing
// invalid input and "best fit" replacements.
#include "release/codepage.h"

#include <windows.h>

namespace release {

std::optional<std::string> convertText(std::string_view text, Encoding from, Encoding to) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(static_cast<UINT>(from), MB_ERR_INVALID_CHARS, text.data(),
                                        length, nullptr, 0);
  if (units == 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(static_cast<UINT>(from), MB_ERR_INVALID_CHARS, text.data(), length,
                      wide.data(), units);

  const bool utf8 = to == Encoding::Utf8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* defaultFlag = utf8 ? nullptr : &usedDefault;
  const int size = WideCharToMultiByte(static_cast<UINT>(to), flags, wide.data(), units, nullptr, 0,
                                       nullptr, defaultFlag);
  if (size == 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(static_cast<UINT>(to), flags, wide.data(), units, out.data(), size, nullptr,
                      defaultFlag);
  return out;
}

}  // namespace release
