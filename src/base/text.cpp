#include "base/text.h"

#include <algorithm>

namespace base {

bool isSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimLeft(std::string_view text, bool (*isBlank)(char)) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view trimRight(std::string_view text, bool (*isBlank)(char)) {
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view trim(std::string_view text, bool (*isBlank)(char)) {
  return trimLeft(trimRight(text, isBlank), isBlank);
}

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

bool endsWithIgnoringAsciiCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         equalsIgnoringAsciiCase(text.substr(text.size() - tail.size()), tail);
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<int64_t> decimalValue(std::string_view text, size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

size_t singleByteChar(std::string_view, size_t) {
  return 1;
}

void forEachChar(std::string_view text, const CharLength& charLength,
                 const std::function<void(size_t at, size_t length)>& visit) {
  for (size_t at = 0, length; at < text.size(); at += length) {
    length = std::clamp<size_t>(charLength(text, at), 1, text.size() - at);
    visit(at, length);
  }
}

bool endsWithChar(std::string_view text, char c, const CharLength& charLength) {
  size_t last = text.size();
  forEachChar(text, charLength, [&](size_t at, size_t) { last = at; });
  return last + 1 == text.size() && text[last] == c;
}

std::string lowerAsciiFrom(std::string_view text, size_t from, const CharLength& charLength) {
  std::string out(text);
  size_t index = 0;
  forEachChar(text, charLength, [&](size_t at, size_t length) {
    const char c = text[at];
    if (index++ >= from && length == 1 && c >= 'A' && c <= 'Z')
      out[at] = static_cast<char>(c - 'A' + 'a');
  });
  return out;
}

}  // namespace base
