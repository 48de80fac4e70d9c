// Where the bytes of a release arrive: one GET at a time through the HTTP
// client, into memory (the update list and its signature) or into a staged
// download checked against what the list says of it. The downloader owns the
// transfers' retries and resumes, and the current transfer's bar and byte
// line, which follow its progress events.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "http/http_client.h"
#include "http/transport.h"
#include "platform/platform.h"
#include "release/release_list.h"
#include "ui/window.h"
#include "umain/transfer_display.h"

namespace UMain {

class Downloader {
 public:
  // The HTTP client talks over the given connection; TCP sockets for null.
  Downloader(platform::Platform& platform, ui::Window& window,
             std::unique_ptr<http::Transport> transport);
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // The body of the URL, as text (16 MiB at most); redirects followed only
  // for a text that is checked afterwards (a signed list and its signature).
  std::string GetText(const std::string& url, http::Redirects redirects);
  // The one way to a file: the body of the URL into the file at path (named
  // target in messages), checked against `expected` as it arrives. A file
  // whose size and hash are listed is taken up where a transfer broke (up to
  // three times, after a pause), and where an earlier run left it (`kept`
  // bytes of the file at path); only such a file follows redirects. A
  // failure of the transfer raises
  // TransferFailure with the text the user reads.
  void Download(const std::string& url, const std::string& target, const std::string& path,
                const release::Expected& expected, uint64_t kept = 0);

  // The next file of the release, numbered from 1 in the status line of a
  // resumed transfer: its bar and byte line start from nothing.
  void StartFile(size_t number);
  // A file with nothing to fetch: its bar and byte line show it complete.
  void ShowComplete(int64_t size);

  // The HTTP client's progress events, counted from the byte a resumed
  // transfer started at.
  void IdHTTP1WorkBegin(int64_t count);
  void IdHTTP1Work(int64_t count);
  void SetTransferMax(int32_t n);
  void SetTransferPosition(int32_t n);
  int32_t TransferMax = 0;
  int32_t TransferPos = 0;

  http::Client IdHTTP1;
  TransferDisplay Display;

 private:
  // Forwards the HTTP client's progress events to the handlers above.
  class HttpProgress : public http::Progress {
   public:
    explicit HttpProgress(Downloader& downloader) : downloader_(downloader) {}
    void workBegin(int64_t count) override { downloader_.IdHTTP1WorkBegin(count); }
    void work(int64_t count) override { downloader_.IdHTTP1Work(count); }
    // A transfer that waits for its server keeps the window painted and
    // answering (close requests included) just as its progress events do.
    void waiting() override { downloader_.Display.paintFrame(); }

   private:
    Downloader& downloader_;
  };

  // One GET with the transfer display around it.
  void Fetch(const std::string& url, http::BodySink& sink, std::optional<uint64_t> rangeFrom,
             http::Redirects redirects);
  void PauseBeforeResume(uint32_t milliseconds);

  platform::Platform& platform_;
  ui::Window& window_;
  size_t fileNumber_ = 0;  // of the file being downloaded, from 1
  // The byte the current transfer's events count from: the one its request
  // asked the body from (the staged download's), none for a whole body.
  int64_t EventsFrom() const;
  const std::optional<uint64_t>* askedFrom_ = nullptr;
  HttpProgress progress_{*this};
};

// The status line: the text, painted at once.
void ShowStatusLine(ui::Window& window, const std::string& text);

}  // namespace UMain
