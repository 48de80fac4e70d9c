#include <cctype>
#include <memory>

#include "platform/error.h"
#include "ui/window.h"

namespace ui {

std::string applicationTitle(const std::string& modulePath) {
  std::string name = modulePath.substr(modulePath.find_last_of("\\/") + 1);
  name = name.substr(0, name.find('.'));
  for (size_t i = 1; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 'A' && c <= 'Z') name[i] = static_cast<char>(c - 'A' + 'a');
  }
  return name;
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
