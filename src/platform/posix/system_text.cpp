// The POSIX systems keep their texts in UTF-8.
#include "base/utf.h"
#include "ini/system_text.h"

namespace ini {

std::string systemTextFromUtf8(std::string_view utf8) {
  return std::string(utf8);
}

std::string systemTextFromUtf16(std::u16string_view units) {
  return base::utf16ToUtf8(units);
}

}  // namespace ini
