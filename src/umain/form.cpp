#include "base/error.h"
#include "platform/test_pause.h"
#include "umain/umain.h"

namespace UMain {

std::string BaseURL = DefaultBaseURL();
std::string UpdatePath;
std::string BackupPath;
std::vector<std::string> UpdateFiles;

std::string DefaultBaseURL() {
  return "http://" UPDATER_DEFAULT_HOST "/downloads/client/";
}

void ResetUnitState() {
  BaseURL = DefaultBaseURL();
  UpdatePath.clear();
  BackupPath.clear();
  UpdateFiles.clear();
}

bool IsUpdateArgument(const std::vector<std::string>& args) {
  return !args.empty() && args.front() == "UPDATE";
}

TTFrmUpdate::TTFrmUpdate(platform::Platform& platform, ui::Window& window,
                         std::vector<std::string> args, std::unique_ptr<http::Transport> transport)
    : IdHTTP1(std::move(transport)), platform_(platform), window_(window), args_(std::move(args)) {
  IdHTTP1.setProgress(&progress_);
  if (int limit = platform::readLimitForTest()) IdHTTP1.setReadLimit(limit);
}

void TTFrmUpdate::FormCreate() {
  LoadSettings();
  OldVersion = GetFileVersionText(UpdatePath + "client.exe");
  window_.setText(ui::ControlId::PLMsg, window_.caption());
  CloseAllowed = false;
}

void TTFrmUpdate::FormShow() {
  window_.setTimerEnabled(true);
}

void TTFrmUpdate::Timer1Timer() {
  window_.setTimerEnabled(false);
  try {
    RunUpdate();
  } catch (...) {
    // The user cannot close the window: a run that fails in its finish
    // routine must still end the program once its error has been reported.
    window_.requestEnd();
    throw;
  }
}

// A transfer that waits for its server keeps the window painted and answering
// (close requests included) just as its progress events do, and shows what
// the last events of a frame left unshown.
void TTFrmUpdate::HttpProgress::waiting() {
  form_.Display.paintFrame();
}

bool TTFrmUpdate::FormCloseQuery() {
  return CloseAllowed;
}

void TTFrmUpdate::ShowStatus(const std::string& text) {
  window_.setText(ui::ControlId::LBL_Updating, text);
  window_.repaintNow();
}

// A box blocks the run until it is answered: everything set before it is on
// the screen first.
void TTFrmUpdate::ShowBox(const std::string& text, ui::Icon icon) {
  Display.showPending();
  window_.repaintNow();
  window_.messageBox(text, ui::kBoxCaption, icon);
}

std::string ErrorMessage(const std::exception& e) {
  if (const auto* error = dynamic_cast<const base::Error*>(&e)) return error->message();
  return e.what();
}

}  // namespace UMain
