// File transfer through the window's HTTP client, and the current transfer's
// progress bar and byte line.
#include <algorithm>
#include <limits>

#include "base/error.h"
#include "umain/integrity.h"
#include "umain/output_file.h"
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

// An update list takes a few kilobytes; a server that sends without end (or a
// huge file in its place) ends the GET at this size instead of taking all the
// memory there is.
constexpr size_t kMaxTextSize = size_t{16} << 20;
int32_t Clamp(int64_t n) {
  return static_cast<int32_t>(std::min<int64_t>(n, std::numeric_limits<int32_t>::max()));
}

}  // namespace

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

// The fields change with every event; the display paints them once per frame
// and when the GET ends.
void TTFrmUpdate::SetTransferMax(int32_t n) {
  TransferMax = n;
  Display.maxChanged();
}

void TTFrmUpdate::SetTransferPosition(int32_t n) {
  TransferPos = n;
  Display.positionChanged();
}

void TTFrmUpdate::ShowTransferText() {
  Display.showText();
}

// Before each file of a release the bar and the byte line start from nothing;
// the status line that names the file paints them together with it.
void TTFrmUpdate::ResetTransfer() {
  TransferPos = TransferMax = 0;
  Display.reset();
}

// A GET blocks without painting while it looks up the name and connects, so
// what was set before is on the screen first; and each transfer's last
// figures are painted before anything else (the next file's reset, a box)
// replaces them.
void TTFrmUpdate::Fetch(const std::string& url, http::BodySink& sink) {
  Display.showNow();
  try {
    IdHTTP1.get(url, sink);
  } catch (...) {
    Display.showNow();
    throw;
  }
  Display.showNow();
}

std::string TTFrmUpdate::GetText(const std::string& url) {
  http::TextSink sink(kMaxTextSize, "The server's answer is larger than 16 MiB");
  Fetch(url, sink);
  return std::move(sink.text);
}

void TTFrmUpdate::Download(const release::ListedFile& file) {
  DownloadToFile(BaseURL + file.name, file.name, file.expected);
}

void TTFrmUpdate::DownloadToFile(const std::string& url, const std::string& target,
                                 const release::Expected& expected) {
  try {
    auto file = CreateOutputFile(platform_, DownloadPart(target), target);
    FileSink fileSink(*file);
    CheckedSink sink(fileSink, target, expected);
    Fetch(url, sink);
    sink.finish();
    if (uint32_t error = file->close()) base::raiseWriteError(error);
  } catch (const std::exception& e) {
    // Whatever stopped the transfer (the server, the connection, the disk,
    // the release's check, memory) is what the user reads.
    throw TransferFailure(ErrorMessage(e));
  }
}

bool TTFrmUpdate::DownloadUpdateFile(const std::string& name, const release::Expected& expected) {
  try {
    DownloadToFile(BaseURL + name, name, expected);
    return true;
  } catch (const TransferFailure& failure) {
    FailDownloadPhase(&failure.message());
    return false;
  }
}

}  // namespace UMain
