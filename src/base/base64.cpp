#include "base/base64.h"

#include <algorithm>
#include <cstdint>

namespace base {

namespace {

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  if (text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const size_t digits = last ? 4 - padding : 4;
    uint32_t group = 0;
    for (size_t j = 0; j < 4; ++j) {
      int value = 0;
      if (j < digits && (value = base64Value(text[i + j])) < 0) return std::nullopt;
      group = group << 6 | static_cast<uint32_t>(value);
    }
    // The bits below the last whole byte must be zero, as an encoder leaves them.
    if (padding == 2 && last && (group & 0xFFFF) != 0) return std::nullopt;
    if (padding == 1 && last && (group & 0xFF) != 0) return std::nullopt;
    out.push_back(static_cast<char>(group >> 16));
    if (digits > 2) out.push_back(static_cast<char>(group >> 8 & 0xFF));
    if (digits > 3) out.push_back(static_cast<char>(group & 0xFF));
  }
  return out;
}

std::string encodeBase64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = 0;
    for (size_t j = 0; j < 3; ++j)
      group = group << 8 | (j < n ? static_cast<uint8_t>(bytes[i + j]) : 0u);
    for (size_t j = 0; j < 4; ++j)
      out.push_back(j <= n ? kDigits[group >> (18 - 6 * j) & 63] : '=');
  }
  return out;
}

}  // namespace base
