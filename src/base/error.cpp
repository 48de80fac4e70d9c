#include "base/error.h"

namespace base {

std::string ioErrorText(uint32_t code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(code);
  }
}

void raiseIoError(uint32_t code) {
  throw Error(ioErrorText(code));
}

void raiseWriteError(uint32_t code) {
  raiseIoError(code == kErrorDiskFull ? kIoDiskFull : code);
}

std::string trimSystemText(std::string text) {
  while (!text.empty()) {
    char c = text.back();
    if (c != ' ' && c != '.' && c != '\r' && c != '\n' && c != '\t') break;
    text.pop_back();
  }
  return text;
}

void raiseCannotCreate(const std::string& fullPath, const std::string& systemText) {
  raiseFileFailure("Cannot create file", fullPath, systemText);
}

void raiseFileFailure(std::string_view what, const std::string& fullPath,
                      const std::string& systemText) {
  throw Error(std::string(what) + " \"" + fullPath + "\". " + trimSystemText(systemText));
}

}  // namespace base
