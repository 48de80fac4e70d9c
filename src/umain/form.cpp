#include "umain/form.h"

namespace UMain {

TTFrmUpdate::TTFrmUpdate(platform::Platform& platform, ui::Window& window,
                         std::vector<std::string> args, std::unique_ptr<http::Transport> transport,
                         Settings settings)
    : window_(window),
      run_(platform, window, std::move(args), std::move(transport), std::move(settings)) {}

void TTFrmUpdate::FormCreate() {
  run_.LoadSettings();
  run_.OldVersion = run_.GetFileVersionText(run_.settings().updatePath + "client.exe");
  window_.setText(ui::ControlId::PLMsg, window_.caption());
  CloseAllowed = false;
}

void TTFrmUpdate::FormShow() {
  window_.setTimerEnabled(true);
}

void TTFrmUpdate::Timer1Timer() {
  window_.setTimerEnabled(false);
  try {
    run_.RunUpdate();
  } catch (...) {
    // The user cannot close the window: a run that fails in its finish
    // routine must still end the program once its error has been reported.
    window_.requestEnd();
    throw;
  }
}

bool TTFrmUpdate::FormCloseQuery() {
  return CloseAllowed;
}

}  // namespace UMain
