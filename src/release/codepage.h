// Names and texts of a release in the updater's code page: 936 (GBK), as the
// Windows updater reads update.ini, or UTF-8, as the updater of other systems
// reads it. The conversions use the system's own tables.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace release {

enum class Encoding : unsigned { Gbk = 936, Utf8 = 65001 };

// The text converted between the two encodings; nullopt when it is not valid
// in `from` or holds a character that `to` has no exact form for.
std::optional<std::string> convertText(std::string_view text, Encoding from, Encoding to);

inline std::optional<std::string> fromUtf8(std::string_view utf8, Encoding to) {
  return convertText(utf8, Encoding::Utf8, to);
}
inline std::optional<std::string> toUtf8(std::string_view text, Encoding from) {
  return convertText(text, from, Encoding::Utf8);
}

}  // namespace release
