// The HTTP client's response side on any bytes, through an in-memory
// connection: up to three GETs on one client, each answered by what the
// input holds for it.
//
// Input: three option bytes, then the server's side. "\0\1C" starts the next
// connection; "\0\1R" starts the next response on the same connection, which
// the server sends only after the next request.
//   byte 0: bits 0-2 the most one read returns (1 .. 32768 bytes, or all);
//           bits 3-4 how a connection ends once its bytes are read: the server
//           closes (0), resets (1), or keeps it open and idle (2, 3), until the
//           client has waited for it once (bit 7 clear) or three times (set);
//           bit 5 no progress receiver; bit 6 the third GET goes to another host
//   byte 1: the sink fails after more than 97 * n bytes (0: never)
//   byte 2: 1 + (n & 0x3f) % 3 GETs; bit 6 the GETs follow redirects (to
//           any host and port; an https one gets a TLS handshake over the
//           script's bytes, which the system's TLS refuses)
//
// Checked: every failure is a base::Error with one of the client's texts
// or a status line that the server sent; the sink gets nothing on a response
// that is not a success; progress counts are the running total of the body
// bytes since their work begin, never decrease and never exceed the announced
// size; a body (or chunk) of an announced size that succeeds gave the sink
// exactly that many bytes; redirects are followed five times at most; a
// failed transfer leaves no connection open; the
// connection is never used while closed, and every request is one whole head;
// a GET is sent again only after nothing came back on a connection used before.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/error.hpp>

#include "check.h"
#include "http/http_client.h"
#include "http/transport.h"
#include "base/error.h"

namespace {

const char kConnectionMark[] = "\0\1C";
const char kResponseMark[] = "\0\1R";
const char kSinkFailure[] = "Sink failed.";

enum class Ending { kClose, kReset, kIdle };

struct Script {
  size_t readLimit = 0;
  Ending ending = Ending::kClose;
  bool progress = true;
  bool otherHost = false;
  int silentWaits = 1;
  size_t sinkLimit = 0;
  int gets = 1;
  bool follow = false;
  std::vector<std::vector<std::string_view>> connections;  // responses per connection
};

Script scriptOf(std::string_view input) {
  static const size_t kReadLimits[] = {1, 3, 16, 100, 1000, 4096, 32768, SIZE_MAX};
  Script script;
  const auto options = static_cast<uint8_t>(input[0]);
  script.readLimit = kReadLimits[options & 7];
  script.ending = (options >> 3 & 3) == 0   ? Ending::kClose
                  : (options >> 3 & 3) == 1 ? Ending::kReset
                                            : Ending::kIdle;
  script.progress = (options & 0x20) == 0;
  script.otherHost = (options & 0x40) != 0;
  script.silentWaits = (options & 0x80) != 0 ? 3 : 1;
  script.sinkLimit = 97 * static_cast<size_t>(static_cast<uint8_t>(input[1]));
  script.gets = 1 + (static_cast<uint8_t>(input[2]) & 0x3f) % 3;
  script.follow = (static_cast<uint8_t>(input[2]) & 0x40) != 0;

  std::string_view rest = input.substr(3);
  script.connections.emplace_back();
  for (;;) {
    const size_t connection = rest.find(std::string_view(kConnectionMark, 3));
    const size_t response = rest.find(std::string_view(kResponseMark, 3));
    const size_t mark = std::min(connection, response);
    script.connections.back().push_back(rest.substr(0, mark));
    if (mark == std::string_view::npos) break;
    if (mark == connection) script.connections.emplace_back();
    rest.remove_prefix(mark + 3);
  }
  return script;
}

// The server's side of each connection in turn, as the script has it.
class MemoryTransport : public http::Transport {
 public:
  explicit MemoryTransport(const Script& script) : script_(script) {}

  void connect(const std::string& host, uint16_t port, boost::system::error_code& error) override {
    FUZZ_CHECK(!open_);
    FUZZ_CHECK(!host.empty() && (port == 80 || script_.follow));
    if (next_ == script_.connections.size()) {
      error = boost::asio::error::connection_refused;
      return;
    }
    responses_ = &script_.connections[next_++];
    open_ = true;
    released_ = 0;
    sent_.clear();
    read_ = 0;
    waits_ = 0;
    requestsOnConnection_ = 0;
  }

  bool isOpen() const override { return open_; }

  void write(const char* data, size_t size, boost::system::error_code&) override {
    FUZZ_CHECK(open_);
    const std::string_view request(data, size);
    // TLS records (content types 20 to 23) after a redirect to https.
    if (script_.follow && (data[0] >= 0x14 && data[0] <= 0x17)) {
      if (released_ < responses_->size()) sent_ += (*responses_)[released_++];
      return;
    }
    FUZZ_CHECK(request.substr(0, 5) == "GET /");
    FUZZ_CHECK(request.find("\r\n\r\n") == size - 4);
    ++requests;
    ++requestsOnConnection_;
    sentBeforeRequest_ = sent_.size();
    if (released_ < responses_->size()) sent_ += (*responses_)[released_++];
  }

  size_t readSome(char* data, size_t size, boost::system::error_code& error) override {
    FUZZ_CHECK(open_);
    FUZZ_CHECK(size > 0);
    if (read_ == sent_.size()) {
      // An idle server has closed by the time a read finds nothing.
      if (script_.ending == Ending::kReset) {
        error = boost::asio::error::connection_reset;
      } else {
        error = boost::asio::error::eof;
      }
      return 0;
    }
    const size_t count = std::min({size, script_.readLimit, sent_.size() - read_});
    std::memcpy(data, sent_.data() + read_, count);
    read_ += count;
    return count;
  }

  bool waitReadable(int timeoutMs) override {
    FUZZ_CHECK(open_);
    FUZZ_CHECK(timeoutMs >= 0);
    if (read_ < sent_.size() || script_.ending != Ending::kIdle) return true;
    // An idle server stays silent while the client waits for it, then closes.
    if (waits_ == script_.silentWaits) return true;
    if (timeoutMs > 0) ++waits_;
    return false;
  }

  void close() override {
    if (open_ && requestsOnConnection_ > 1 && sent_.size() == sentBeforeRequest_) ++unanswered;
    open_ = false;
  }

  // What the server has sent on the current connection.
  std::string_view sent() const { return sent_; }
  int requests = 0;
  // Requests on a connection used before that got nothing back.
  int unanswered = 0;

 private:
  const Script& script_;
  size_t next_ = 0;
  const std::vector<std::string_view>* responses_ = nullptr;
  bool open_ = false;
  size_t released_ = 0;
  std::string sent_;
  size_t read_ = 0;
  int waits_ = 0;
  int requestsOnConnection_ = 0;
  size_t sentBeforeRequest_ = 0;
};

// Records the events of one GET: progress and sink bytes in order.
class Recorder : public http::Progress, public http::BodySink {
 public:
  explicit Recorder(size_t sinkLimit) : sinkLimit_(sinkLimit) {}

  struct Event {
    enum Kind { kBegin, kWork } kind;
    int64_t count;
    size_t written;  // sink bytes up to the event
  };
  std::vector<Event> events;
  size_t written = 0;

  void workBegin(int64_t count) override {
    FUZZ_CHECK(count >= 0);
    events.push_back({Event::kBegin, count, written});
  }
  void work(int64_t count) override { events.push_back({Event::kWork, count, written}); }
  void write(const char* data, size_t size) override {
    // Body bytes only come inside a body, after its work begin.
    FUZZ_CHECK(!events.empty() || !progress_);
    written += size;
    (void)data;
    if (sinkLimit_ != 0 && written > sinkLimit_) throw base::Error(kSinkFailure);
  }
  void setProgressOn(bool on) { progress_ = on; }

 private:
  size_t sinkLimit_;
  bool progress_ = true;
};

// Whether text stands in the server's bytes followed by a line end.
bool isLineOf(std::string_view sent, std::string_view text) {
  for (size_t at = sent.find(text); at != std::string_view::npos; at = sent.find(text, at + 1)) {
    // (A response may follow the end of a body directly, not after a line end.)
    const std::string_view after = sent.substr(at + text.size());
    if (after.substr(0, 1) == "\n" || after.substr(0, 2) == "\r\n") return true;
  }
  return false;
}

bool isClientFailure(const std::string& message) {
  return message == "Connection Closed Gracefully." || message == "Max line length exceeded." ||
         message == "Max header size exceeded." || message.rfind("Socket Error # ", 0) == 0 ||
         message == kSinkFailure || message.rfind("More than 5 redirects (", 0) == 0 ||
         message.rfind("Redirect from https to http refused (", 0) == 0 ||
         message.rfind("Cannot make a secure connection to ", 0) == 0;
}

void checkProgress(const Recorder& recorder, bool success) {
  int64_t announced = -1, last = 0;
  size_t beganAt = 0;
  auto closeBody = [&](size_t writtenAtEnd) {
    // A body or chunk of an announced size that succeeded gave exactly that many bytes.
    if (success && announced > 0) FUZZ_CHECK(writtenAtEnd - beganAt == uint64_t(announced));
  };
  for (const Recorder::Event& event : recorder.events) {
    if (event.kind == Recorder::Event::kBegin) {
      if (announced >= 0) closeBody(event.written);
      announced = event.count;
      last = 0;
      beganAt = event.written;
      continue;
    }
    FUZZ_CHECK(announced >= 0);
    FUZZ_CHECK(event.count >= last);
    FUZZ_CHECK(announced == 0 || event.count <= announced);
    if (success) FUZZ_CHECK(uint64_t(event.count) == event.written - beganAt);
    last = event.count;
  }
  if (announced >= 0) closeBody(recorder.written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const Script script = scriptOf(std::string_view(reinterpret_cast<const char*>(data), size));
  auto owned = std::make_unique<MemoryTransport>(script);
  MemoryTransport& transport = *owned;
  http::Client client(std::move(owned));

  for (int get = 0; get < script.gets; ++get) {
    Recorder recorder(script.sinkLimit);
    recorder.setProgressOn(script.progress);
    client.setProgress(script.progress ? &recorder : nullptr);
    const std::string host = script.otherHost && get == 2 ? "b.example" : "a.example";
    const int requestsBefore = transport.requests;
    const int unansweredBefore = transport.unanswered;
    std::string message;
    bool failed = false;
    try {
      client.get("http://" + host + "/file" + std::to_string(get), recorder, std::nullopt,
                 script.follow ? http::Redirects::Follow : http::Redirects::Refuse);
    } catch (const base::Error& error) {
      failed = true;
      message = error.message();
    }
    // A connection was made, or its refusal is the failure.
    // (Followed redirects add a request each, five at most; the https one
    // a handshake instead. A request that got nothing back on a connection
    // used before, and only such a one, is sent once more.)
    const int requests =
        transport.requests - requestsBefore - (transport.unanswered - unansweredBefore);
    FUZZ_CHECK(client.redirectedTo().size() <= 5);
    FUZZ_CHECK(requests == 1 ||
               (failed && message == "Socket Error # 10061\r\nConnection refused.") ||
               (script.follow && requests >= 0 && requests <= 6 &&
                static_cast<int>(client.redirectedTo().size()) >= requests - 1));
    // A response that is not a success raises its status line and gives the sink
    // nothing; a failure of the transfer closes the connection. (A status line
    // that reads like one of the client's texts is not told apart.)
    const bool statusLine = failed && isLineOf(transport.sent(), message);
    const bool clientFailure = failed && isClientFailure(message);
    if (failed) FUZZ_CHECK(statusLine || clientFailure);
    if (statusLine && !clientFailure) FUZZ_CHECK(recorder.written == 0);
    if (clientFailure && !statusLine) FUZZ_CHECK(!transport.isOpen());
    checkProgress(recorder, !failed);
  }
  return 0;
}
