// File transfer through the window's HTTP client, and the current transfer's
// progress bar and byte line.
#include <algorithm>
#include <limits>

#include "platform/error.h"
#include "umain/umain.h"

namespace UMain {

namespace {

// Writes a response body into an open file; a failed write ends the transfer.
class FileSink : public http::BodySink {
 public:
  explicit FileSink(platform::OutputFile& file) : file_(file) {}
  void write(const char* data, size_t size) override {
    if (uint32_t error = file_.write(data, size))
      platform::raiseIoError(error == platform::kErrorDiskFull ? 101 : error);
  }

 private:
  platform::OutputFile& file_;
};

class TextSink : public http::BodySink {
 public:
  void write(const char* data, size_t size) override { text.append(data, size); }
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

void TTFrmUpdate::IdHTTP1WorkBegin(int64_t count) {
  SetTransferMax(Clamp(count));
}

void TTFrmUpdate::IdHTTP1Work(int64_t count) {
  SetTransferPosition(Clamp(count));
}

void TTFrmUpdate::SetTransferMax(int32_t n) {
  TransferMax = n;
  window_.setProgressMax(ui::ControlId::PB_Curr, n);
  ShowTransferText();
  window_.processMessages();
}

void TTFrmUpdate::SetTransferPosition(int32_t n) {
  TransferPos = n;
  window_.setProgressPos(ui::ControlId::PB_Curr, n);
  ShowTransferText();
  window_.processMessages();
}

void TTFrmUpdate::ShowTransferText() {
  const char separator = platform_.decimalSeparator();
  window_.setText(ui::ControlId::Label4, "已下载:" + FormatByteCount(TransferPos, separator) +
                                             "  共 " + FormatByteCount(TransferMax, separator));
  window_.repaintNow();
}

std::string TTFrmUpdate::GetText(const std::string& url) {
  TextSink sink;
  IdHTTP1.get(url, sink);
  return std::move(sink.text);
}

bool TTFrmUpdate::DownloadUpdateFile(const std::string& name) {
  return DownloadToFile(BaseURL + name, name);
}

bool TTFrmUpdate::DownloadToFile(const std::string& url, const std::string& target) {
  try {
    uint32_t error = 0;
    auto file = platform_.createFile(target, error);
    if (!file)
      platform::raiseCannotCreate(platform_.fullPath(target), platform_.systemErrorText(error));
    FileSink sink(*file);
    IdHTTP1.get(url, sink);
    if ((error = file->close())) platform::raiseIoError(error);
    return true;
  } catch (const platform::Error& e) {
    ShowBox("升级过程中出现了错误了,错误信息如下：\r\r" + e.message(), ui::Icon::Error);
    RestoreOldFiles();
    RemoveSelfAndQuit();
    return false;
  }
}

}  // namespace UMain
