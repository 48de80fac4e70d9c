/* Reads the update window and its message boxes from outside the process, the
 * way a person sees them, and answers the boxes. Run in the same wine prefix
 * (or on the same desktop) as the updater. Commands and what they print:
 *
 *   uiprobe window [timeout_ms]     waits for the visible update window, then
 *     window <caption> <frame left> <frame top> <client width> <client height>
 *            <screen width> <screen height> <style hex> <extended style hex>
 *     control <name> <class> <x> <y> <w> <h> <pos> <max> <visible 0/1> <text>
 *       (one line per named control; x, y in the parent's client area; pos and
 *       max of progress bars, -1 -1 for the others)
 *   uiprobe box [timeout_ms]        waits for a message box, presses OK
 *     box <caption> <error|warning|information|question|none|unknown> <text>
 *   uiprobe close [timeout_ms]      asks the window to close (system menu and
 *                                   WM_CLOSE), then to end the session
 *     close <window still there 0/1> <window's answer> <owner window's answer>
 *       (answers: 0 refused, 1 agreed, "gone", "timeout")
 *   uiprobe wait-gone [timeout_ms]  waits until the window no longer exists
 *   uiprobe watch [timeout_ms]      reads the controls' texts every 10 ms until
 *                                   the window is gone, and prints each change
 *     text <name> <text>
 *
 * The timeout defaults to 10000 ms. Fields are separated by TAB. Texts are the
 * raw bytes of the ANSI code page with CR, LF, TAB and backslash escaped as
 * \r, \n, \t and \\. Exit code 0 on success, 1 when the awaited window did
 * not come (or go, or the box did not close), 2 on bad usage. */
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define POLL_MS 50
#define DEFAULT_TIMEOUT_MS 10000
/* How long a message box may take to paint its icon, or to close once OK is
 * pressed. */
#define CLOSE_TIMEOUT_MS 5000

/* Messages to the window get no answer while its thread is busy (in a
 * transfer, say). The answers may take as long as the command's timeout,
 * counted from the moment the window was found; past that, each message still
 * gets a short while, so that a busy window costs one timeout, not one per
 * message. */
#define MIN_SEND_TIMEOUT_MS 100
static DWORD sendBudgetMs = DEFAULT_TIMEOUT_MS;
static DWORD sendDeadline;

static void startSending(void) {
  sendDeadline = GetTickCount() + sendBudgetMs;
}

static const char kFormClass[] = "TTFrmUpdate";
static const char kBoxClass[] = "#32770";
static const char kNameProperty[] = "UpdaterControlName";
/* Control ids of the message text and the icon in a system message box. */
enum { kBoxTextId = 0xFFFF, kBoxIconId = 0x14 };

static void putEscaped(const char* text) {
  const unsigned char* p = (const unsigned char*)text;
  while (*p) {
    /* A double-byte character is copied whole: its trail byte may be 0x5C. */
    if (IsDBCSLeadByteEx(CP_ACP, *p) && p[1]) {
      putchar(p[0]);
      putchar(p[1]);
      p += 2;
      continue;
    }
    switch (*p) {
      case '\r':
        fputs("\\r", stdout);
        break;
      case '\n':
        fputs("\\n", stdout);
        break;
      case '\t':
        fputs("\\t", stdout);
        break;
      case '\\':
        fputs("\\\\", stdout);
        break;
      default:
        putchar(*p);
    }
    ++p;
  }
}

static int sendTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
  LONG left = (LONG)(sendDeadline - GetTickCount());
  UINT timeout = left > MIN_SEND_TIMEOUT_MS ? (UINT)left : MIN_SEND_TIMEOUT_MS;
  return SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_NORMAL, timeout, result) != 0;
}

/* The window's text as its own window procedure gives it; when the window's
 * thread does not answer in time, the text the system keeps for the window.
 * Caller frees. */
static char* systemWindowText(HWND hwnd) {
  WCHAR wide[4096];
  int n = InternalGetWindowText(hwnd, wide, (int)(sizeof wide / sizeof wide[0]));
  int size = WideCharToMultiByte(CP_ACP, 0, wide, n, NULL, 0, NULL, NULL);
  char* text = calloc((size_t)size + 1, 1);
  if (text) WideCharToMultiByte(CP_ACP, 0, wide, n, text, size, NULL, NULL);
  return text;
}

static char* windowText(HWND hwnd) {
  DWORD_PTR length = 0, copied = 0;
  char* text;
  if (sendTimeout(hwnd, WM_GETTEXTLENGTH, 0, 0, &length)) {
    text = calloc(length + 2, 1);
    if (text && sendTimeout(hwnd, WM_GETTEXT, length + 1, (LPARAM)text, &copied)) {
      text[copied <= length ? copied : length] = '\0';
      return text;
    }
    free(text);
  }
  return systemWindowText(hwnd);
}

static unsigned long timeoutArg(int argc, char** argv) {
  return argc > 2 ? strtoul(argv[2], NULL, 10) : DEFAULT_TIMEOUT_MS;
}

/* The first visible top-level window of the class, or NULL. */
static HWND findVisible(const char* className) {
  HWND hwnd = NULL;
  while ((hwnd = FindWindowExA(NULL, hwnd, className, NULL)) != NULL) {
    if (IsWindowVisible(hwnd)) return hwnd;
  }
  return NULL;
}

static HWND waitVisible(const char* className, unsigned long timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND hwnd = findVisible(className);
    if (hwnd || GetTickCount() - start >= timeoutMs) return hwnd;
    Sleep(POLL_MS);
  }
}

static void printControl(HWND hwnd, HWND parent, const char* name) {
  char className[256] = "";
  RECT rc;
  long pos = -1, max = -1;
  char* text;
  GetClassNameA(hwnd, className, sizeof className);
  GetWindowRect(hwnd, &rc);
  MapWindowPoints(NULL, parent, (POINT*)&rc, 2);
  if (lstrcmpiA(className, PROGRESS_CLASSA) == 0) {
    DWORD_PTR value;
    if (sendTimeout(hwnd, PBM_GETPOS, 0, 0, &value)) pos = (long)(int)value;
    if (sendTimeout(hwnd, PBM_GETRANGE, FALSE, 0, &value)) max = (long)(int)value;
  }
  printf("control\t%s\t%s\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%d\t", name, className, rc.left, rc.top,
         rc.right - rc.left, rc.bottom - rc.top, pos, max, IsWindowVisible(hwnd) ? 1 : 0);
  text = windowText(hwnd);
  putEscaped(text ? text : "");
  free(text);
  putchar('\n');
}

/* Calls visit for every descendant of parent that carries a control name,
 * depth first, with the window it is placed in; index counts them in that
 * order. */
typedef void (*Visit)(HWND control, HWND parent, const char* name, int index);

static void forEachControl(HWND parent, Visit visit, int* index) {
  HWND child;
  for (child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    ATOM atom = (ATOM)(ULONG_PTR)GetPropA(child, kNameProperty);
    char name[256];
    if (atom && GlobalGetAtomNameA(atom, name, sizeof name)) visit(child, parent, name, (*index)++);
    forEachControl(child, visit, index);
  }
}

static void printNamedControl(HWND control, HWND parent, const char* name, int index) {
  (void)index;
  printControl(control, parent, name);
}

static void printControls(HWND form) {
  int index = 0;
  forEachControl(form, printNamedControl, &index);
}

/* The texts the watch printed last, by control index. */
#define MAX_WATCHED 64
static char* watched[MAX_WATCHED];

/* The text the system keeps for the control: read without a message to the
 * window's thread, which answers messages only between its transfer's reads. */
static void printChangedText(HWND control, HWND parent, const char* name, int index) {
  char* text = systemWindowText(control);
  (void)parent;
  if (index >= MAX_WATCHED || !text) {
    free(text);
    return;
  }
  if (watched[index] && strcmp(watched[index], text) == 0) {
    free(text);
    return;
  }
  printf("text\t%s\t", name);
  putEscaped(text);
  putchar('\n');
  fflush(stdout);
  free(watched[index]);
  watched[index] = text;
}

/* Prints every change of a control's text, as it is read every few
 * milliseconds, until the window is gone or the timeout has passed. */
static int commandWatch(unsigned long timeoutMs) {
  DWORD start = GetTickCount();
  HWND form = waitVisible(kFormClass, timeoutMs);
  if (!form) return 1;
  while (IsWindow(form) && GetTickCount() - start < timeoutMs) {
    int index = 0;
    forEachControl(form, printChangedText, &index);
    Sleep(10);
  }
  return 0;
}

static int commandWindow(unsigned long timeoutMs) {
  HWND form = waitVisible(kFormClass, timeoutMs);
  RECT window, client;
  char* caption;
  if (!form) return 1;
  startSending();
  GetWindowRect(form, &window);
  GetClientRect(form, &client);
  caption = windowText(form);
  fputs("window\t", stdout);
  putEscaped(caption ? caption : "");
  free(caption);
  printf("\t%ld\t%ld\t%ld\t%ld\t%d\t%d\t%08lx\t%08lx\n", window.left, window.top, client.right,
         client.bottom, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
         (unsigned long)GetWindowLongA(form, GWL_STYLE),
         (unsigned long)GetWindowLongA(form, GWL_EXSTYLE));
  printControls(form);
  return 0;
}

/* The icon static of a message box: id 0x14, or else the first SS_ICON static. */
static HWND boxIconControl(HWND box) {
  HWND child = GetDlgItem(box, kBoxIconId);
  if (child) return child;
  for (child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
  }
  return NULL;
}

/* Pixels of a w x h area, 32 bits each, top-down. */
typedef struct {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  DWORD* bits;
} Canvas;

static int canvasOpen(Canvas* canvas, int w, int h) {
  BITMAPINFO info;
  memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  canvas->dc = CreateCompatibleDC(NULL);
  canvas->bitmap =
      CreateDIBSection(canvas->dc, &info, DIB_RGB_COLORS, (void**)&canvas->bits, NULL, 0);
  if (!canvas->bitmap) {
    DeleteDC(canvas->dc);
    return 0;
  }
  canvas->old = SelectObject(canvas->dc, canvas->bitmap);
  return 1;
}

static void canvasClose(Canvas* canvas) {
  SelectObject(canvas->dc, canvas->old);
  DeleteObject(canvas->bitmap);
  DeleteDC(canvas->dc);
}

static int colourNear(DWORD a, DWORD b) {
  int shift;
  for (shift = 0; shift < 24; shift += 8) {
    if (abs((int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF)) > 24) return 0;
  }
  return 1;
}

static const struct {
  LPCSTR id;
  const char* name;
} kIcons[] = {{IDI_HAND, "error"},
              {IDI_EXCLAMATION, "warning"},
              {IDI_ASTERISK, "information"},
              {IDI_QUESTION, "question"}};

/* The standard icon the icon control shows on the screen, as an index into
 * kIcons, or -1. The icon handle belongs to the box's process and cannot be
 * compared with one loaded here, so compare pixels: the control as it is on
 * the screen against each standard icon drawn here on the same background. */
static int iconOnScreen(HWND control) {
  RECT rc;
  POINT origin = {0, 0};
  Canvas shot, drawn;
  HDC screen;
  int w, h, i, n, best = -1, bestMisses = 0, secondMisses = 0;
  GetClientRect(control, &rc);
  ClientToScreen(control, &origin);
  w = rc.right;
  h = rc.bottom;
  if (w <= 0 || h <= 0 || !canvasOpen(&shot, w, h)) return -1;
  if (!canvasOpen(&drawn, w, h)) {
    canvasClose(&shot);
    return -1;
  }
  screen = GetDC(NULL);
  BitBlt(shot.dc, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
  ReleaseDC(NULL, screen);
  for (i = 0; i < (int)(sizeof kIcons / sizeof kIcons[0]); ++i) {
    int misses = 0;
    /* The corner of every standard icon is transparent: it shows the background. */
    for (n = 0; n < w * h; ++n) drawn.bits[n] = shot.bits[0];
    DrawIconEx(drawn.dc, 0, 0, LoadIconA(NULL, kIcons[i].id), w, h, 0, NULL, DI_NORMAL);
    GdiFlush();
    for (n = 0; n < w * h; ++n) misses += !colourNear(drawn.bits[n], shot.bits[n]);
    if (best < 0 || misses < bestMisses) {
      secondMisses = best < 0 ? w * h : bestMisses;
      best = i;
      bestMisses = misses;
    } else if (misses < secondMisses) {
      secondMisses = misses;
    }
  }
  canvasClose(&shot);
  canvasClose(&drawn);
  /* A clear winner only: nearly all pixels alike, and far fewer misses than any other. */
  if (best >= 0 && bestMisses <= w * h / 20 && bestMisses * 4 < secondMisses) return best;
  return -1;
}

static const char* boxIconName(HWND box) {
  HWND control = boxIconControl(box);
  DWORD_PTR icon = 0;
  DWORD start = GetTickCount();
  if (!control || !IsWindowVisible(control)) return "none";
  if (!sendTimeout(control, STM_GETICON, 0, 0, &icon)) return "unknown";
  if (!icon) return "none";
  /* The box may be visible a moment before its icon is painted. */
  for (;;) {
    int found = iconOnScreen(control);
    if (found >= 0) return kIcons[found].name;
    if (GetTickCount() - start >= CLOSE_TIMEOUT_MS) return "unknown";
    Sleep(POLL_MS);
  }
}

static int commandBox(unsigned long timeoutMs) {
  HWND box = waitVisible(kBoxClass, timeoutMs);
  HWND message, ok;
  char* text;
  char* caption;
  DWORD start;
  if (!box) return 1;
  startSending();
  message = GetDlgItem(box, kBoxTextId);
  text = message ? windowText(message) : NULL;
  caption = windowText(box);
  fputs("box\t", stdout);
  putEscaped(caption ? caption : "");
  printf("\t%s\t", boxIconName(box));
  putEscaped(text ? text : "");
  putchar('\n');
  free(text);
  free(caption);
  fflush(stdout);

  /* Press OK: the notification the button itself would send. */
  ok = GetDlgItem(box, IDOK);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)ok);
  start = GetTickCount();
  while (IsWindow(box) && IsWindowVisible(box)) {
    if (GetTickCount() - start >= CLOSE_TIMEOUT_MS) {
      fputs("uiprobe: the box did not close\n", stderr);
      return 1;
    }
    Sleep(POLL_MS);
  }
  return 0;
}

/* The window's answer to the end of the session: "0" refused, "1" agreed,
 * "gone" no such window, "timeout" no answer. */
static void queryEndSession(HWND hwnd, char (*text)[16]) {
  DWORD_PTR answer = 0;
  if (!hwnd || !IsWindow(hwnd)) {
    strcpy(*text, "gone");
  } else if (sendTimeout(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, &answer)) {
    sprintf(*text, "%lu", (unsigned long)answer);
  } else {
    strcpy(*text, "timeout");
  }
}

static int commandClose(unsigned long timeoutMs) {
  HWND form = waitVisible(kFormClass, timeoutMs);
  HWND owner;
  char formAnswer[16], ownerAnswer[16];
  if (!form) return 1;
  startSending();
  owner = GetWindow(form, GW_OWNER);
  PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(form, WM_CLOSE, 0, 0);
  Sleep(500);
  /* Sent messages are answered before posted ones are handled: look at the
   * window only after the close requests had their turn. */
  queryEndSession(form, &formAnswer);
  queryEndSession(owner, &ownerAnswer);
  Sleep(500);
  printf("close\t%d\t%s\t%s\n", IsWindow(form) ? 1 : 0, formAnswer, ownerAnswer);
  return 0;
}

static int commandWaitGone(unsigned long timeoutMs) {
  DWORD start = GetTickCount();
  while (FindWindowA(kFormClass, NULL)) {
    if (GetTickCount() - start >= timeoutMs) return 1;
    Sleep(POLL_MS);
  }
  return 0;
}

int main(int argc, char** argv) {
  int code = 2;
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc >= 2) {
    unsigned long timeoutMs = timeoutArg(argc, argv);
    sendBudgetMs = timeoutMs > 1000 ? timeoutMs : 1000;
    if (strcmp(argv[1], "window") == 0) {
      code = commandWindow(timeoutMs);
    } else if (strcmp(argv[1], "box") == 0) {
      code = commandBox(timeoutMs);
    } else if (strcmp(argv[1], "close") == 0) {
      code = commandClose(timeoutMs);
    } else if (strcmp(argv[1], "wait-gone") == 0) {
      code = commandWaitGone(timeoutMs);
    } else if (strcmp(argv[1], "watch") == 0) {
      code = commandWatch(timeoutMs);
    }
  }
  if (code == 2) fputs("usage: uiprobe window|box|close|wait-gone|watch [timeout_ms]\n", stderr);
  fflush(stdout);
  return code;
}
