// File transfer through the window's HTTP client, and the current transfer's
// progress bar and byte line.
#include <algorithm>
#include <limits>

#include "base/error.h"
#include "umain/integrity.h"
#include "umain/umain.h"

namespace UMain {

namespace {

// Writes a response body into an open file; a failed write ends the transfer.
class FileSink : public http::BodySink {
 public:
  explicit FileSink(platform::OutputFile& file) : file_(file) {}
  void write(const char* data, size_t size) override {
    if (uint32_t error = file_.write(data, size)) base::raiseWriteError(error);
  }

 private:
  platform::OutputFile& file_;
};

// A body kept in memory. An update list takes a few kilobytes; a server that
// sends without end (or a huge file in its place) ends the GET at this size
// instead of taking all the memory there is.
constexpr size_t kMaxTextSize = size_t{16} << 20;

class TextSink : public http::BodySink {
 public:
  void write(const char* data, size_t size) override {
    if (size > kMaxTextSize - text.size())
      throw base::Error("The server's answer is larger than 16 MiB");
    text.append(data, size);
  }
  std::string text;
};

int32_t Clamp(int64_t n) {
  return static_cast<int32_t>(std::min<int64_t>(n, std::numeric_limits<int32_t>::max()));
}

// q hundredths, in the shortest form: no trailing zeros, no separator for whole numbers.
std::string Hundredths(int64_t q, char separator) {
  std::string text = std::to_string(q / 100);
  int64_t fraction = q % 100;
  if (fraction != 0) {
    text += separator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

}  // namespace

std::string FormatByteCount(int32_t n, char decimalSeparator) {
  if (n < 1000) return std::to_string(n) + " 字节";
  // Truncated to two decimals without rounding; exact in integers.
  const int64_t bytes = n;
  if (bytes * 100 / 1024 < 100000) return Hundredths(bytes * 100 / 1024, decimalSeparator) + " KB";
  return Hundredths(bytes * 100 / 1048576, decimalSeparator) + " MB";
}

void TTFrmUpdate::HttpProgress::workBegin(int64_t count) {
  form_.IdHTTP1WorkBegin(count);
}
void TTFrmUpdate::HttpProgress::work(int64_t count) {
  form_.IdHTTP1Work(count);
}

// The events come every 32 KiB, tens of thousands of times a second on a
// fast network, and a release may hold thousands of small files; a person
// sees a few dozen frames a second. The transfer display is therefore painted,
// and the window's messages processed, at most once per frame.
constexpr uint64_t kFrameMs = 40;

void TTFrmUpdate::PaintFrameWhenDue() {
  const uint64_t now = platform_.milliseconds();
  if (now - FrameShownAt < kFrameMs) return;
  FrameShownAt = now;
  PaintFrame();
}

void TTFrmUpdate::PaintFrame() {
  ShowPendingTransfer();
  window_.repaintNow();
  window_.processMessages();
}

void TTFrmUpdate::IdHTTP1WorkBegin(int64_t count) {
  SetTransferMax(Clamp(count));
}

void TTFrmUpdate::IdHTTP1Work(int64_t count) {
  SetTransferPosition(Clamp(count));
}

// The fields change every time; the controls follow once per frame and when
// the GET ends.
void TTFrmUpdate::SetTransferMax(int32_t n) {
  TransferMax = n;
  TransferBarPos = std::clamp(TransferBarPos, 0, std::max(n, 0));
  TransferShown = false;
  PaintFrameWhenDue();
}

void TTFrmUpdate::SetTransferPosition(int32_t n) {
  TransferPos = n;
  TransferBarPos = std::clamp(n, 0, std::max(TransferMax, 0));
  TransferShown = false;
  PaintFrameWhenDue();
}

void TTFrmUpdate::ShowPendingTransfer() {
  if (TransferShown) return;
  TransferShown = true;
  window_.setProgressMax(ui::ControlId::PB_Curr, TransferMax);
  window_.setProgressPos(ui::ControlId::PB_Curr, TransferBarPos);
  ShowTransferText();
}

// Before each file of a release the bar and the byte line start from nothing;
// the status line that names the file paints them together with it.
void TTFrmUpdate::ResetTransfer() {
  TransferPos = TransferMax = TransferBarPos = 0;
  TransferShown = true;
  window_.setProgressPos(ui::ControlId::PB_Curr, 0);
  window_.setProgressMax(ui::ControlId::PB_Curr, 0);
  ShowTransferText();
}

// Paints the transfer's figures at once when the last frame left them unshown.
void TTFrmUpdate::ShowTransferNow() {
  if (TransferShown) return;
  ShowPendingTransfer();
  window_.repaintNow();
}

void TTFrmUpdate::ShowTransferText() {
  const char separator = platform_.decimalSeparator();
  window_.setText(ui::ControlId::Label4, "已下载:" + FormatByteCount(TransferPos, separator) +
                                             "  共 " + FormatByteCount(TransferMax, separator));
}

// A GET blocks without painting while it looks up the name and connects, so
// what was set before is on the screen first; and each transfer's last
// figures are painted before anything else (the next file's reset, a box)
// replaces them.
void TTFrmUpdate::Fetch(const std::string& url, http::BodySink& sink) {
  ShowTransferNow();
  try {
    IdHTTP1.get(url, sink);
  } catch (...) {
    ShowTransferNow();
    throw;
  }
  ShowTransferNow();
}

std::string TTFrmUpdate::GetText(const std::string& url) {
  TextSink sink;
  Fetch(url, sink);
  return std::move(sink.text);
}

bool TTFrmUpdate::DownloadUpdateFile(const std::string& name, const release::Expected& expected) {
  return DownloadToFile(BaseURL + name, name, expected);
}

bool TTFrmUpdate::DownloadToFile(const std::string& url, const std::string& target,
                                 const release::Expected& expected) {
  try {
    uint32_t error = 0;
    auto file = platform_.createFile(target, error);
    if (!file)
      base::raiseCannotCreate(platform_.fullPath(target), platform_.systemErrorText(error));
    FileSink fileSink(*file);
    CheckedSink sink(fileSink, target, expected);
    Fetch(url, sink);
    sink.finish();
    if ((error = file->close())) base::raiseWriteError(error);
    return true;
  } catch (const std::exception& e) {
    ShowBox(kTransferFailed + ErrorMessage(e), ui::Icon::Error);
    RestoreOldFiles();
    RemoveSelfAndQuit();
    return false;
  }
}

}  // namespace UMain
