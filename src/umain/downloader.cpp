#include "umain/downloader.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <vector>

#include "base/error.h"
#include "platform/test_pause.h"
#include "umain/attempt.h"
#include "umain/file_reader.h"
#include "umain/integrity.h"
#include "umain/output_file.h"
#include "umain/transfer_failure.h"

namespace UMain {

namespace {

// A transfer that breaks in the body is resumed (kResumeAttempts times)
// after a pause that doubles from the first.
constexpr uint32_t kFirstResumePauseMs = 1000;

// A Range request answered with another part than asked for, or a 206 whose
// Content-Range does not fit the file: the file is fetched again whole.
struct RangeRefused {};

// The staged download of a listed file: created or taken up where an earlier
// attempt stopped, written as bodies arrive and checked against the list.
class StagedDownload : public http::BodySink {
 public:
  // The bytes go to path, named target in messages.
  StagedDownload(platform::Platform& platform, const std::string& target, std::string path,
                 const release::Expected& expected)
      : platform_(platform),
        target_(target),
        path_(std::move(path)),
        expected_(expected),
        check_(fileSink_, target, expected) {}

  // The file anew, empty.
  void create() {
    file_.reset();
    file_ = CreateOutputFile(platform_, path_, target_);
    check_.restart();
  }
  // The first `bytes` of the file an earlier run left, checked again before
  // anything is added to them, through the one handle the rest is written
  // with: whatever was added to the file since the run planned (or replaced
  // it) is not read past or kept. False when it cannot be taken up (not this
  // account's alone, a link, shorter, unreadable): the file is then fetched
  // whole into a new file.
  bool keep(uint64_t bytes) {
    check_.restart();
    std::unique_ptr<platform::ResumedFile> file;
    if (platform_.resumeFile(path_, bytes, file) ||
        !ReadFromStart(*file, bytes,
                       [&](const char* data, size_t size) { check_.kept(data, size); }))
      return false;
    file_ = std::move(file);
    return true;
  }
  uint64_t size() const { return check_.received(); }

  // The next request asks for the body from this byte on (none: all of it);
  // reset when the answer is the whole body.
  std::optional<uint64_t> askedFrom;
  void answered(int status, std::string_view contentRange) override {
    if (!askedFrom) return;
    const uint64_t listed = *expected_.size;
    const std::string fits = "bytes " + std::to_string(*askedFrom) + "-" +
                             std::to_string(listed - 1) + "/" + std::to_string(listed);
    if (status == 206 && contentRange == fits) return;
    // The whole file instead of a part: it is written from its first byte.
    if (status == 200) {
      create();
      askedFrom.reset();
      return;
    }
    throw RangeRefused{};
  }
  void announced(int64_t length) override { check_.announced(length); }
  void write(const char* data, size_t size) override { check_.write(data, size); }

  // After the whole body: the check, then the file closed.
  void finish() {
    check_.finish();
    if (uint32_t error = file_->close()) base::raiseWriteError(error);
  }

 private:
  // Writes into whichever file is open now.
  class CurrentFile : public http::BodySink {
   public:
    explicit CurrentFile(StagedDownload& staged) : staged_(staged) {}
    void write(const char* data, size_t size) override {
      if (uint32_t error = staged_.file_->write(data, size)) base::raiseWriteError(error);
    }

   private:
    StagedDownload& staged_;
  };

  platform::Platform& platform_;
  const std::string& target_;
  const std::string path_;
  const release::Expected& expected_;
  std::unique_ptr<platform::OutputFile> file_;
  CurrentFile fileSink_{*this};
  CheckedSink check_;
};

int32_t Clamp(int64_t n) {
  return static_cast<int32_t>(std::min<int64_t>(n, std::numeric_limits<int32_t>::max()));
}

}  // namespace

Downloader::Downloader(platform::Platform& platform, ui::Window& window,
                       std::unique_ptr<http::Transport> transport)
    : IdHTTP1(std::move(transport)),
      Display(platform, window, TransferMax, TransferPos),
      platform_(platform),
      window_(window) {
  IdHTTP1.setProgress(&progress_);
  if (int limit = platform::readLimitForTest()) IdHTTP1.setReadLimit(limit);
}

void ShowStatusLine(ui::Window& window, const std::string& text) {
  window.setText(ui::ControlId::LBL_Updating, text);
  window.repaintNow();
}

// A resumed transfer's events count from the byte it resumed at, so that
// the bar and the byte line go on from where they were.
int64_t Downloader::EventsFrom() const {
  return askedFrom_ && *askedFrom_ ? static_cast<int64_t>(**askedFrom_) : 0;
}

void Downloader::IdHTTP1WorkBegin(int64_t count) {
  SetTransferMax(Clamp(EventsFrom() + count));
}

void Downloader::IdHTTP1Work(int64_t count) {
  SetTransferPosition(Clamp(EventsFrom() + count));
}

// The fields change with every event; the display paints them once per frame
// and when the GET ends.
void Downloader::SetTransferMax(int32_t n) {
  TransferMax = n;
  Display.maxChanged();
}

void Downloader::SetTransferPosition(int32_t n) {
  TransferPos = n;
  Display.positionChanged();
}

// Before each file of a release the bar and the byte line start from nothing;
// the status line that names the file paints them together with it.
void Downloader::StartFile(size_t number) {
  fileNumber_ = number;
  TransferPos = TransferMax = 0;
  Display.reset();
}

void Downloader::ShowComplete(int64_t size) {
  IdHTTP1WorkBegin(size);
  IdHTTP1Work(size);
  Display.showNow();
}

// A GET blocks without painting while it looks up the name and connects, so
// what was set before is on the screen first; and each transfer's last
// figures are painted before anything else (the next file's reset, a box)
// replaces them.
void Downloader::Fetch(const std::string& url, http::BodySink& sink,
                       std::optional<uint64_t> rangeFrom, http::Redirects redirects) {
  Display.showNow();
  try {
    IdHTTP1.get(url, sink, rangeFrom, redirects);
  } catch (...) {
    Display.showNow();
    throw;
  }
  Display.showNow();
}

std::string Downloader::GetText(const std::string& url, http::Redirects redirects) {
  http::TextSink sink(release::kMaxListBytes, "The server's answer is larger than 16 MiB");
  Fetch(url, sink, std::nullopt, redirects);
  return std::move(sink.text);
}

namespace {

// What the failure in flight is to the retry decision; a status other than
// 416 to a range request, and anything unknown, is the transfer's end.
Failure Classify(const std::exception_ptr& error, bool askedForRange) {
  try {
    std::rethrow_exception(error);
  } catch (const http::BrokenTransfer&) {
    return Failure::Broken;
  } catch (const RangeRefused&) {
    return Failure::RangeRefused;
  } catch (const http::StatusError& e) {
    return askedForRange && e.status() == 416 ? Failure::RangeNotSatisfiable : Failure::Other;
  } catch (const NotAsListed&) {
    return Failure::NotAsListed;
  } catch (...) {
    return Failure::Other;
  }
}

}  // namespace

void Downloader::Download(const std::string& url, const std::string& target,
                          const std::string& path, const release::Expected& expected,
                          uint64_t kept) {
  try {
    // Bytes checked against a listed size and hash may come from wherever
    // the server sends the request on; any other answer must be its own.
    const http::Redirects redirects =
        expected.size && expected.sha256 ? http::Redirects::Follow : http::Redirects::Refuse;
    StagedDownload staged(platform_, target, path, expected);
    askedFrom_ = &staged.askedFrom;
    struct Forget {
      const std::optional<uint64_t>*& asked;
      ~Forget() { asked = nullptr; }
    } forget{askedFrom_};
    Attempts attempts;
    // Only a file whose size and hash are listed can be taken up where it
    // stopped: every byte of it is checked at the end whatever the request
    // it came with.
    attempts.resumable = expected.size && expected.sha256;
    if (!attempts.resumable || kept == 0 || kept >= *expected.size || !staged.keep(kept))
      staged.create();
    attempts.kept = staged.size() > 0;
    for (;;) {
      if (staged.size() > 0) staged.askedFrom = staged.size();
      std::exception_ptr error;
      try {
        Fetch(url, staged, staged.askedFrom, redirects);
        staged.finish();
        return;
      } catch (...) {
        error = std::current_exception();
      }
      const Failure failure = Classify(error, staged.askedFrom.has_value());
      switch (NextAttempt(failure, attempts)) {
        case Next::Fail:
          std::rethrow_exception(error);
        case Next::Resume:
          ++attempts.resumes;
          attempts.kept = true;
          ShowStatusLine(window_, "正在续传第 " + std::to_string(fileNumber_) + " 个文件(第 " +
                                      std::to_string(attempts.resumes) + " 次):" + target);
          PauseBeforeResume(kFirstResumePauseMs << (attempts.resumes - 1));
          break;
        case Next::Restart:
          if (failure == Failure::NotAsListed) {
            attempts.fetchedWholeAgain = true;
            attempts.kept = false;
          }
          staged.create();
          break;
      }
      staged.askedFrom.reset();
    }
  } catch (const std::exception& e) {
    // Whatever stopped the transfer (the server, the connection, the disk,
    // the release's check, memory) is what the user reads.
    throw TransferFailure(ErrorMessage(e));
  }
}

// The window stays painted and answering while the run waits.
void Downloader::PauseBeforeResume(uint32_t milliseconds) {
  const uint64_t until = platform_.milliseconds() + milliseconds;
  for (uint64_t now = platform_.milliseconds(); now < until; now = platform_.milliseconds()) {
    Display.paintFrame();
    platform_.sleep(static_cast<uint32_t>(std::min<uint64_t>(until - now, 50)));
  }
}

}  // namespace UMain
