// The finish routine of every run: remove the updater's own executable once
// the process has ended, and end the application.
#include <tuple>

#include "base/error.h"
#include "umain/output_file.h"
#include "umain/update_run.h"

namespace UMain {

namespace {

constexpr const char* kScriptName = ".\\delme.bat";

// Shipped script, kept byte for byte: its loop waits only while a file
// named ".\file.exe" exists, the name the client starts the updater under.
std::string RemovalScript(const std::string& executable) {
  return "@echo off\r\n"
         ":loop\r\n"
         "del \"" +
         executable +
         "\"\r\n"
         "if exist .\\file.exe goto loop\r\n"
         "del .\\delme.bat\r\n";
}

}  // namespace

void UpdateRun::RemoveSelfAndQuit() {
  if (relaunched_) {
    // The executable is the one the first process runs: that one removes it
    // and starts the client as this run says.
    exitCode_ = clientStarted_ ? 0 : kExitClientNotStarted;
    window_.requestEnd();
    return;
  }
  if (platform_.hasCommandInterpreter()) {
    std::unique_ptr<platform::OutputFile> script;
    if (uint32_t error = platform_.createFile(kScriptName, script)) base::raiseIoError(error);
    WriteAndClose(*script, RemovalScript(platform_.modulePath()));
    platform_.startHidden(kScriptName);
  } else {
    // Without a command interpreter the running executable can be unlinked
    // directly: the system keeps its image until the process ends.
    std::ignore = platform_.deleteFile(platform_.modulePath());
  }
  window_.requestEnd();
}

}  // namespace UMain
