// The finish routine of every run: remove the updater's own executable once
// the process has ended, and end the application.
#include "base/error.h"
#include "umain/umain.h"

namespace UMain {

namespace {

constexpr const char* kScriptName = ".\\delme.bat";

std::string RemovalScript(const std::string& executable) {
  return "@echo off\r\n"
         ":loop\r\n"
         "del \"" +
         executable +
         "\"\r\n"
         "if exist .\\file.exe goto loop\r\n"
         "del .\\delme.bat\r\n";
}

void WriteTextFile(platform::Platform& platform, const std::string& path, const std::string& text) {
  uint32_t error = 0;
  auto file = platform.createFile(path, error);
  if (!file) base::raiseIoError(error);
  if ((error = file->write(text.data(), text.size())) || (error = file->close()))
    base::raiseWriteError(error);
}

}  // namespace

void TTFrmUpdate::RemoveSelfAndQuit() {
  if (platform_.hasCommandInterpreter()) {
    WriteTextFile(platform_, kScriptName, RemovalScript(platform_.modulePath()));
    platform_.startHidden(kScriptName);
  } else {
    // Without a command interpreter the running executable can be unlinked
    // directly: the system keeps its image until the process ends.
    platform_.deleteFile(platform_.modulePath());
  }
  window_.requestEnd();
}

}  // namespace UMain
