// The update window as the logic sees it. Each backend (Win32, FLTK) and the
// test double implement it; the logic never touches a toolkit type.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/text.h"
#include "ui/layout.h"

namespace ui {

// The icon of a message box.
enum class Icon { Error, Warning, Information };

inline constexpr const char* kBoxCaption = "系统提示";

// The window's event handlers, implemented by the update form.
class FormEvents {
 public:
  virtual ~FormEvents() = default;
  virtual void FormCreate() = 0;
  virtual void FormShow() = 0;
  virtual void Timer1Timer() = 0;
  virtual bool FormCloseQuery() = 0;
};

class Window {
 public:
  virtual ~Window() = default;

  virtual std::string caption() = 0;
  virtual void setText(ControlId id, const std::string& text) = 0;
  virtual void setProgressMax(ControlId id, int32_t max) = 0;
  virtual int32_t progressMax(ControlId id) = 0;
  // The control keeps the position within 0 and its maximum.
  virtual void setProgressPos(ControlId id, int32_t pos) = 0;
  virtual void stepProgress(ControlId id) = 0;
  // Paints what is invalid now, without dispatching queued messages.
  virtual void repaintNow() = 0;
  // Handles every pending window message; a quit request is only noted.
  virtual void processMessages() = 0;
  // Modal; the window is disabled while it is open.
  virtual void messageBox(const std::string& text, const std::string& caption, Icon icon) = 0;
  virtual void setTimerEnabled(bool enabled) = 0;
  // Asks the event loop to end once control returns to it; returns at once.
  virtual void requestEnd() = 0;
  // Takes the window off the screen (and the taskbar) for the rest of the run.
  virtual void hide() = 0;
};

// A window backend that can run the application's event loop.
class Application : public Window {
 public:
  // Creates the window, runs FormCreate, shows the window, runs FormShow and
  // then the event loop until an end request is taken. Returns the exit code.
  virtual int run(FormEvents& form) = 0;
};

// The title of the application: the executable's base name cut at its first
// ".", every character after the first lower-cased ("Myupdater"); characters
// as the system's code page has them.
std::string applicationTitle(const std::string& modulePath,
                             const base::CharLength& charLength = base::singleByteChar);

// Text of the default error report: the message, with "." appended when it is
// not empty and its last byte sorts above ".".
std::string errorReportText(const std::string& message);

// Runs an event handler; an error it lets out is shown by the default error
// report (error icon, application title) and the handler simply ends.
void runHandler(Window& window, const std::string& title, const std::function<void()>& handler);

// The backend of the system the program was built for.
std::unique_ptr<Application> createApplication(const std::string& title);

}  // namespace ui
