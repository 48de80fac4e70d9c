// The update window, TTFrmUpdate: its events start the update run
// (update_run.h) once the window is shown, and keep the window from being
// closed while it goes on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "http/transport.h"
#include "platform/platform.h"
#include "ui/window.h"
#include "umain/update_run.h"

namespace UMain {

class TTFrmUpdate : public ui::FormEvents {
 public:
  // The run of a process started with args (update_run.h); its settings are
  // read from the registry when the window is created.
  TTFrmUpdate(platform::Platform& platform, ui::Window& window, std::vector<std::string> args,
              std::unique_ptr<http::Transport> transport = nullptr, Settings settings = {});

  void FormCreate() override;
  void FormShow() override;
  void Timer1Timer() override;
  bool FormCloseQuery() override;

  bool CloseAllowed = false;
  // What the program returns when its window's loop has ended.
  int ExitCode() const { return run_.ExitCode(); }
  UpdateRun& run() { return run_; }

 private:
  ui::Window& window_;
  UpdateRun run_;
};

}  // namespace UMain
