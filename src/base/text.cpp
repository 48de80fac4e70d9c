#include "base/text.h"

#include <algorithm>

namespace base {

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
