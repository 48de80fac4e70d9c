#include <cctype>
#include <memory>

#include "base/text.h"
#include "ui/window.h"

namespace ui {

std::string applicationTitle(const std::string& modulePath, const base::CharLength& charLength) {
  // A trail byte of a double-byte character may be "\": only a separator
  // that is a character of its own starts the file name.
  size_t start = 0;
  base::forEachChar(modulePath, charLength, [&](size_t at, size_t length) {
    if (length == 1 && (modulePath[at] == '\\' || modulePath[at] == '/')) start = at + 1;
  });
  std::string name = modulePath.substr(start);
  name = name.substr(0, name.find('.'));  // "." is never a trail byte
  return base::lowerAsciiFrom(name, 1, charLength);
}

std::string errorReportText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void runHandler(Window& window, const std::string& title, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    window.messageBox(errorReportText(e.what()), title, Icon::Error);
  }
}

}  // namespace ui
