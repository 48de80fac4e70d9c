// The updater's HTTP client: plain GETs over HTTP/1.1 (over TLS for https
// URLs, tls.h) with a fixed request head, cookies kept in memory, one reused
// connection, redirects only where the caller asks for them, and a
// connection on which nothing arrives for a minute given up. Every failure is a base::Error whose
// message the user reads: the status line of a response that is not a success, a socket error
// ("Socket Error # 10061" CR LF "Connection refused."), "Connection Closed
// Gracefully.", "Max line length exceeded.", a failed TLS handshake's text,
// or an empty text for a URL that is not http or https.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "http/proxy.h"

namespace http {

// The failure of a response that is not a success: its message is the status
// line exactly as received ("HTTP/1.1 404 Not Found"), its status the code in
// it (-1 when it has none).
class StatusError : public base::Error {
 public:
  StatusError(std::string statusLine, int status)
      : base::Error(std::move(statusLine)), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// The client's two progress events, fired while a response body is read.
class Progress {
 public:
  virtual ~Progress() = default;
  // A body (or, for a chunked body, one chunk) begins: its announced size,
  // 0 for a body read until the server closes. Never negative.
  virtual void workBegin(int64_t count) = 0;
  // The running total of body bytes since the last workBegin.
  virtual void work(int64_t count) = 0;
  // The server has sent nothing for a while (less than the read limit):
  // called again and again while the client waits for more of the response,
  // so that the receiver's window stays painted and answers. Not an event
  // of the transfer: counts and events stay as they are.
  virtual void waiting() {}
};

// A connection that failed, closed or fell silent (see Client::setReadLimit)
// in the middle of a successful response's body: what arrived before is
// good, and the rest may be asked for again.
class BrokenTransfer : public base::Error {
 public:
  using base::Error::Error;
};

// Where the body of a successful response goes, piece by piece as it arrives.
class BodySink {
 public:
  virtual ~BodySink() = default;
  // A successful response's status (200, 206, ...) and its Content-Range
  // value (empty when it has none), told before anything of its body.
  virtual void answered(int /*status*/, std::string_view /*contentRange*/) {}
  // The length a successful response announces for its body (Content-Length),
  // told before any of the body is read; a sink that raises base::Error
  // here ends the GET without reading the body. Not called for a chunked body
  // or one read until the server closes.
  virtual void announced(int64_t /*length*/) {}
  virtual void write(const char* data, size_t size) = 0;  // may raise base::Error
};

// A body kept in memory as raw bytes, up to a limit: a body past it ends the
// GET with base::Error(limitText).
class TextSink : public BodySink {
 public:
  explicit TextSink(size_t limit = SIZE_MAX, std::string limitText = {})
      : limit_(limit), limitText_(std::move(limitText)) {}
  void write(const char* data, size_t size) override;
  std::string text;

 private:
  size_t limit_;
  std::string limitText_;
};

class Transport;

enum class Redirects { Refuse, Follow };

class Client {
 public:
  // A client on TCP sockets.
  Client();
  // A client on the given connection (see transport.h); TCP sockets for null.
  explicit Client(std::unique_ptr<Transport> transport);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // The receiver of the progress events; null for none.
  void setProgress(Progress* progress);

  // Where the ways to a server come from (proxy.h), asked once per server
  // (scheme, host and port); the system's settings unless set.
  void setRoutes(std::function<Route(const Url&)> routes);

  // One GET of url; the body of a successful response goes to sink as it
  // arrives. Raises base::Error: StatusError for a response that is not a
  // success, BrokenTransfer for a body cut off. With rangeFrom the request
  // asks for the body from that byte on; the sink learns from answered()
  // what the server sent instead. A redirect (301, 302, 303, 307, 308 with a
  // Location) is a StatusError unless the caller follows redirects, which it
  // does only for bytes it checks itself afterwards: then the same GET goes
  // to the new location (its range kept), at most 5 times, never from https
  // to http ("Redirect from https to http refused (<URL>)").
  void get(const std::string& url, BodySink& sink, std::optional<uint64_t> rangeFrom = std::nullopt,
           Redirects redirects = Redirects::Refuse);
  // The locations the last GET was redirected to, in order.
  const std::vector<std::string>& redirectedTo() const;

  // How long a read waits for the first or the next byte before the
  // connection counts as broken ("Socket Error # 10060" CR LF "Connection
  // timed out."); 60 seconds unless set. The limit is kept while the client
  // has a progress receiver (the window's client always has one); without
  // one, a read blocks as the socket does.
  void setReadLimit(int milliseconds);

  // One GET whose body is returned in memory as raw bytes.
  std::string getText(const std::string& url);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace http
