// The update window on the Win32 API, for the Windows builds. Texts are the
// program's byte strings and go to the ANSI functions as they are.
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <memory>
#include <string>

#include "../../../resources/resource.h"
#include "platform/win32/system_library.h"
#include "ui/window.h"

namespace ui {
namespace {

constexpr const char* kApplicationClassName = "TApplication";
constexpr const char* kPanelClassName = "TPanel";
// Each control carries its layout name as a global atom under this window
// property, so that tools outside the process can tell the controls apart.
constexpr const char* kNameProperty = "UpdaterControlName";
constexpr UINT_PTR kTimerId = 1;
constexpr size_t kControlCount = static_cast<size_t>(ControlId::Form);

// Window extra bytes of a panel: its font, and its two bevels as DrawEdge
// borders (outer in the low word, inner in the high word; 0 = none).
constexpr int kPanelFontSlot = 0;
constexpr int kPanelBevelSlot = sizeof(LONG_PTR);
// A one-pixel lowered bevel: shadow at the top left, highlight at the bottom right.
constexpr UINT kLoweredBevel = BDR_SUNKENOUTER;
// A one-pixel raised bevel: highlight at the top left, shadow at the bottom right.
constexpr UINT kRaisedBevel = BDR_RAISEDINNER;

// A plain panel: a face-coloured area with up to two one-pixel bevels and an
// optional text centred in it.
LRESULT CALLBACK panelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFONT:
      SetWindowLongPtrA(hwnd, kPanelFontSlot, static_cast<LONG_PTR>(wParam));
      if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return GetWindowLongPtrA(hwnd, kPanelFontSlot);
    case WM_SETTEXT: {
      LRESULT result = DefWindowProcA(hwnd, message, wParam, lParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return result;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills the whole area
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
      const LONG_PTR bevels = GetWindowLongPtrA(hwnd, kPanelBevelSlot);
      for (UINT edge : {static_cast<UINT>(LOWORD(bevels)), static_cast<UINT>(HIWORD(bevels))}) {
        if (edge == 0) continue;
        DrawEdge(dc, &rc, edge, BF_RECT);
        InflateRect(&rc, -1, -1);
      }
      const int length = GetWindowTextLengthA(hwnd);
      if (length > 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        text.resize(static_cast<size_t>(GetWindowTextA(hwnd, text.data(), length + 1)));
        HGDIOBJ oldFont =
            SelectObject(dc, reinterpret_cast<HFONT>(GetWindowLongPtrA(hwnd, kPanelFontSlot)));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rc,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_EXPANDTABS);
        SelectObject(dc, oldFont);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

// Owns a system handle (a window, a font, a bitmap) and frees it with its
// owner; it stands for the handle wherever one is asked for.
template <class Handle, auto Free>
class Owned {
 public:
  Owned() = default;
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }
  Owned& operator=(Handle handle) {
    reset();
    handle_ = handle;
    return *this;
  }
  operator Handle() const { return handle_; }
  void reset() {
    if (handle_) Free(handle_);
    handle_ = nullptr;
  }

 private:
  Handle handle_ = nullptr;
};

using OwnedWindow = Owned<HWND, &DestroyWindow>;
using OwnedFont = Owned<HFONT, &DeleteObject>;
using OwnedBitmap = Owned<HBITMAP, &DeleteObject>;

class Win32Application : public Application {
 public:
  explicit Win32Application(std::string title)
      : title_(std::move(title)), instance_(GetModuleHandleA(nullptr)) {}

  ~Win32Application() override {
    form_ = nullptr;
    for (HWND control : controls_) {
      if (!control) continue;
      if (auto atom =
              static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(RemovePropA(control, kNameProperty))))
        GlobalDeleteAtom(atom);
    }
    // The windows go before the fonts and the picture they show (members
    // are destroyed in the reverse order of their declaration).
  }

  int run(FormEvents& form) override {
    // Without its window the program has nothing to show and nothing that
    // could ever end its event loop.
    if (!create()) return 1;
    form_ = &form;
    runHandler(*this, title_, [&] { form.FormCreate(); });

    RECT rc;
    GetWindowRect(main_, &rc);
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    SetWindowPos(main_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(app_, SW_SHOWNA);
    ShowWindow(main_, SW_SHOWNORMAL);
    UpdateWindow(main_);
    runHandler(*this, title_, [&] { form.FormShow(); });

    // An end request already made (during FormCreate, say) is taken here
    // before the timer's first tick, which comes a second later at the earliest.
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    setTimerEnabled(false);
    form_ = nullptr;
    return 0;
  }

  std::string caption() override { return windowText(main_); }

  void setText(ControlId id, const std::string& text) override {
    HWND control = this->control(id);
    if (windowText(control) == text) return;  // nothing to fit or repaint
    SetWindowTextA(control, text.c_str());
    if (controlSpec(id).autoSize) fitToText(control, text);
  }

  void setProgressMax(ControlId id, int32_t max) override {
    SendMessageA(control(id), PBM_SETRANGE32, 0, max);
  }

  int32_t progressMax(ControlId id) override {
    return static_cast<int32_t>(SendMessageA(control(id), PBM_GETRANGE, FALSE, 0));
  }

  void setProgressPos(ControlId id, int32_t pos) override {
    SendMessageA(control(id), PBM_SETPOS, static_cast<WPARAM>(pos), 0);
  }

  void stepProgress(ControlId id) override { SendMessageA(control(id), PBM_STEPIT, 0, 0); }

  void repaintNow() override {
    RedrawWindow(main_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  }

  void processMessages() override {
    MSG msg;
    bool quit = false;
    WPARAM exitCode = 0;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        exitCode = msg.wParam;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    // The end request stays for the event loop, which ends once the running
    // handler returns to it.
    if (quit) PostQuitMessage(static_cast<int>(exitCode));
  }

  void messageBox(const std::string& text, const std::string& caption, Icon icon) override {
    // A box's own message loop would end the box at once on a pending end
    // request; hold the request back until the user has answered.
    MSG quit;
    const bool endPending = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    MessageBoxA(main_, text.c_str(), caption.c_str(), MB_OK | iconFlag(icon));
    if (endPending) PostQuitMessage(static_cast<int>(quit.wParam));
  }

  static UINT iconFlag(Icon icon) {
    switch (icon) {
      case Icon::Error:
        return MB_ICONERROR;
      case Icon::Warning:
        return MB_ICONWARNING;
      case Icon::Information:
        break;
    }
    return MB_ICONINFORMATION;
  }

  void setTimerEnabled(bool enabled) override {
    if (!main_) return;
    if (enabled) {
      SetTimer(main_, kTimerId, kTimerIntervalMs, nullptr);
    } else {
      KillTimer(main_, kTimerId);
    }
  }

  void requestEnd() override { PostQuitMessage(0); }

  void hide() override {
    ShowWindow(main_, SW_HIDE);
    ShowWindow(app_, SW_HIDE);
  }

 private:
  HWND control(ControlId id) const { return controls_[static_cast<size_t>(id)]; }

  static std::string windowText(HWND hwnd) {
    const int length = GetWindowTextLengthA(hwnd);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(hwnd, text.data(), length + 1)));
    return text;
  }

  void registerClasses() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));

    wc.lpfnWndProc = &Win32Application::applicationProc;
    wc.lpszClassName = kApplicationClassName;
    wc.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_UPDATER));
    wc.hIconSm = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_UPDATER), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    RegisterClassExA(&wc);

    wc.lpfnWndProc = &Win32Application::formProc;
    wc.lpszClassName = kFormClassName;
    wc.hIcon = nullptr;
    wc.hIconSm = nullptr;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    RegisterClassExA(&wc);

    wc.lpfnWndProc = &panelProc;
    wc.lpszClassName = kPanelClassName;
    wc.hbrBackground = nullptr;
    wc.cbWndExtra = 2 * sizeof(LONG_PTR);
    RegisterClassExA(&wc);
  }

  bool create() {
    // comctl32.dll is not a KnownDLL: from the system directory (system_library.h).
    const auto initCommonControls =
        SYSTEM_FUNCTION(platform::systemLibrary(L"comctl32.dll"), InitCommonControlsEx);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    if (initCommonControls) initCommonControls(&icc);
    registerClasses();

    formFont_ = CreateFontA(-kFormFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                            GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kFormFontFace);
    messageFont_ = CreateFontA(-kMessageFontHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kMessageFontFace);
    banner_ = static_cast<HBITMAP>(
        LoadImageA(instance_, MAKEINTRESOURCEA(IDB_BANNER), IMAGE_BITMAP, 0, 0, 0));

    // The hidden owner: a zero-sized window that holds the taskbar button and
    // the application title, so the update window itself has none.
    app_ = CreateWindowExA(0, kApplicationClassName, title_.c_str(),
                           WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                           GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0,
                           0, nullptr, nullptr, instance_, this);

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
    RECT rc{0, 0, kFormClientWidth, kFormClientHeight};
    AdjustWindowRectEx(&rc, style, FALSE, exStyle);
    main_ = CreateWindowExA(exStyle, kFormClassName, kFormCaption, style, 0, 0, rc.right - rc.left,
                            rc.bottom - rc.top, app_, nullptr, instance_, this);
    if (!main_) return false;
    // A fixed dialog: its system menu offers only Move and Close.
    if (HMENU menu = GetSystemMenu(main_, FALSE)) {
      for (UINT command : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE})
        DeleteMenu(menu, command, MF_BYCOMMAND);
    }

    for (const ControlSpec& spec : kControls) createControl(spec);
    return true;
  }

  void createControl(const ControlSpec& spec) {
    HWND parent = spec.parent == ControlId::Form ? main_ : control(spec.parent);
    const char* className = WC_STATICA;
    DWORD style = WS_CHILD | WS_VISIBLE;
    HFONT font = formFont_;
    UINT bevels = 0;
    switch (spec.kind) {
      case ControlKind::Panel:
        className = kPanelClassName;
        style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
        bevels = kLoweredBevel;
        break;
      case ControlKind::MessagePanel:
        className = kPanelClassName;
        style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
        bevels = MAKELONG(kRaisedBevel, kLoweredBevel);
        font = messageFont_;
        break;
      case ControlKind::Image:
        style |= SS_BITMAP;
        break;
      case ControlKind::Label:
        // Clipped, not wrapped; a single "&" marks a mnemonic.
        style |= SS_LEFTNOWORDWRAP;
        break;
      case ControlKind::ProgressBar:
        className = PROGRESS_CLASSA;
        break;
    }
    const size_t index = static_cast<size_t>(spec.id);
    HWND hwnd = CreateWindowExA(
        0, className, spec.text, style, spec.left, spec.top, spec.width, spec.height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(index + 1)), instance_, nullptr);
    controls_[index] = hwnd;
    if (bevels) SetWindowLongPtrA(hwnd, kPanelBevelSlot, static_cast<LONG_PTR>(bevels));
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (spec.kind == ControlKind::Image) {
      SendMessageA(hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(HBITMAP{banner_}));
    } else if (spec.kind == ControlKind::ProgressBar) {
      SendMessageA(hwnd, PBM_SETRANGE32, 0, kProgressInitialMax);
      SendMessageA(hwnd, PBM_SETSTEP, 1, 0);
    }
    if (spec.autoSize) fitToText(hwnd, spec.text);
    SetPropA(hwnd, kNameProperty,
             reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GlobalAddAtomA(spec.name))));
  }

  // Gives an auto-sized label the width of its text; its height stays.
  void fitToText(HWND label, const std::string& text) {
    RECT extent{0, 0, 0, 0};
    if (!text.empty()) {
      HDC dc = GetDC(label);
      HGDIOBJ oldFont = SelectObject(dc, formFont_);
      DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &extent,
                DT_CALCRECT | DT_EXPANDTABS | DT_LEFT);
      SelectObject(dc, oldFont);
      ReleaseDC(label, dc);
    }
    RECT rc;
    GetWindowRect(label, &rc);
    SetWindowPos(label, nullptr, 0, 0, extent.right - extent.left, rc.bottom - rc.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // Answers whether the program may close; every close and end-of-session
  // request goes through the form.
  bool closeAllowed() { return form_ == nullptr || form_->FormCloseQuery(); }

  static Win32Application* self(HWND hwnd, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* app =
          static_cast<Win32Application*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
      return app;
    }
    return reinterpret_cast<Win32Application*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }

  static LRESULT CALLBACK formProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Win32Application* app = self(hwnd, message, lParam);
    if (!app) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
      case WM_TIMER:
        if (wParam != kTimerId || !app->form_) break;
        runHandler(*app, app->title_, [app] { app->form_->Timer1Timer(); });
        return 0;
      case WM_CLOSE:
        if (app->closeAllowed()) app->main_.reset();
        return 0;
      case WM_QUERYENDSESSION:
        return app->closeAllowed() ? TRUE : FALSE;
      case WM_DESTROY:
        // Only a close the form allowed gets here while the loop runs.
        if (app->form_) PostQuitMessage(0);
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }

  static LRESULT CALLBACK applicationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Win32Application* app = self(hwnd, message, lParam);
    if (!app) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
      case WM_CLOSE:
        // Closing from the taskbar button asks the update window.
        if (app->main_) SendMessageA(app->main_, WM_CLOSE, 0, 0);
        return 0;
      case WM_QUERYENDSESSION:
        return app->closeAllowed() ? TRUE : FALSE;
      case WM_SETFOCUS:
        // The zero-sized window gets activated through its taskbar button:
        // pass the focus on to the update window, or to its open message box.
        if (app->main_ && IsWindowVisible(app->main_)) {
          HWND target = GetLastActivePopup(app->main_);
          if (IsWindowVisible(target) && IsWindowEnabled(target)) SetFocus(target);
          return 0;
        }
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }

  std::string title_;
  HINSTANCE instance_;
  FormEvents* form_ = nullptr;
  OwnedFont formFont_;
  OwnedFont messageFont_;
  OwnedBitmap banner_;
  OwnedWindow app_;
  OwnedWindow main_;                            // owned by app_
  std::array<HWND, kControlCount> controls_{};  // children of main_, destroyed with it
};

}  // namespace

std::unique_ptr<Application> createApplication(const std::string& title) {
  return std::make_unique<Win32Application>(title);
}

}  // namespace ui
