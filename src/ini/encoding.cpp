#include "ini/encoding.h"
#include "base/utf8.h"

#include <cstdint>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ini {

namespace {

std::u16string decodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  // An odd last byte is no character.
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(
        static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
  }
  return units;
}

#ifdef _WIN32

std::string toAnsi(const std::u16string& units) {
  if (units.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
  const int count = static_cast<int>(units.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, count, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, count, text.data(), size, nullptr, nullptr);
  return text;
}

std::string utf8ToText(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int count = static_cast<int>(utf8.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), count, nullptr, 0);
  std::u16string units(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), count, reinterpret_cast<wchar_t*>(units.data()),
                      size);
  return toAnsi(units);
}

std::string utf16ToText(const std::u16string& units) {
  return toAnsi(units);
}

#else

using base::appendUtf8;

std::string utf8ToText(std::string_view utf8) {
  return std::string(utf8);
}

std::string utf16ToText(const std::u16string& units) {
  std::string text;
  text.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    appendUtf8(text, c);
  }
  return text;
}

#endif

}  // namespace

std::string profileText(std::string bytes) {
  const std::string_view view(bytes);
  if (view.substr(0, 3) == "\xEF\xBB\xBF") return utf8ToText(view.substr(3));
  if (view.substr(0, 2) == "\xFF\xFE") return utf16ToText(decodeUtf16(view.substr(2), false));
  if (view.substr(0, 2) == "\xFE\xFF") return utf16ToText(decodeUtf16(view.substr(2), true));
  return bytes;
}

}  // namespace ini
