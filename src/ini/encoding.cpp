#include "ini/encoding.h"

#include "base/utf.h"
#include "ini/system_text.h"

namespace ini {

std::string profileText(std::string bytes) {
  const std::string_view view(bytes);
  if (view.substr(0, 3) == "\xEF\xBB\xBF") return systemTextFromUtf8(view.substr(3));
  if (view.substr(0, 2) == "\xFF\xFE")
    return systemTextFromUtf16(base::utf16Units(view.substr(2), false));
  if (view.substr(0, 2) == "\xFE\xFF")
    return systemTextFromUtf16(base::utf16Units(view.substr(2), true));
  return bytes;
}

}  // namespace ini
