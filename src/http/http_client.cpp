// The client reads responses itself from one reusable buffer: the status line
// is kept exactly as received, each line is limited on its own (not the head
// as a whole), body framing follows the client's own rules, and body bytes go
// from the connection to the sink without another copy. The connection is a
// Transport: a TCP socket unless another one is given.
#include "http/http_client.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/rfc7230.hpp>

#include "http/cookies.h"
#include "http/proxy.h"
#include "http/socket_error.h"
#include "http/socket_system.h"
#include "http/tls.h"
#include "http/transport.h"
#include "http/url.h"
#include "base/error.h"
#include "base/text.h"

namespace http {

namespace asio = boost::asio;
namespace beast = boost::beast;

namespace {

// Body bytes are reported in pieces of this size. Heads are read a piece at a
// time; bodies go from the socket to the sink in reads of up to the whole
// buffer, which costs the system and the network far fewer calls (and
// acknowledgements) than piece-sized reads, while the events still fall on
// the same piece boundaries. The buffer holds 512 KiB: a sink that hashes
// what it is given works on long runs of bytes between reads, and hashing a
// download read 256 KiB at a time took a third more processor time than the
// same hash over a file (0.83 s against 0.62 s per GiB here; 0.73 s with
// 512 KiB reads). Its pages are only touched as a body fills them, so a small
// body costs no more memory than before.
constexpr size_t kPieceSize = 32768;
constexpr size_t kBufferSize = 16 * kPieceSize;
// The longest status, header or chunk-size line, without its CR LF.
constexpr size_t kMaxLineLength = 16384;
// How long one read of an error body may wait before the body is given up.
constexpr int kErrorBodyReadLimitMs = 2000;
constexpr int kNoReadLimit = -1;
// A connection on which nothing arrives for this long is given up: a server
// or middlebox that stops sending would otherwise keep the user waiting for
// ever in front of a window that cannot be closed.
constexpr int kDefaultReadLimitMs = 60000;
constexpr int kTimedOut = 10060;
// How often a read that has no limit hands control to the progress receiver
// while nothing arrives.
constexpr int kWaitingIntervalMs = 100;

const char kClosedGracefully[] = "Connection Closed Gracefully.";
const char kMaxLineExceeded[] = "Max line length exceeded.";
const char kMaxHeaderExceeded[] = "Max header size exceeded.";
// A response head holds at most this many header lines and bytes (line ends
// included): a server that sends header lines without end would otherwise
// take all the memory there is, a cookie or a line at a time.
constexpr size_t kMaxHeaderLines = 100;
constexpr size_t kMaxHeadBytes = 65536;
// Redirects followed for one GET, at most.
constexpr size_t kMaxRedirects = 5;
// Answers to a proxy's 407 for one request, at most (a challenge-response
// logon takes two).
constexpr int kMaxProxyAnswers = 3;
// Interim (1xx) responses taken before the final one: a server that sends
// them without end would hold the transfer for ever, bytes always arriving.
constexpr int kMaxInterimResponses = 20;

// A failure of the connection or of the response itself, as opposed to one
// raised by the sink or a progress receiver. Turned into base::Error at
// the end of the GET.
struct ConnectionFailure {
  std::string message;
  bool silence = false;  // nothing arrived for the silence limit
};

// A read of an error body waited longer than its limit.
struct ReadLimitReached {};

[[noreturn]] void failWith(std::string message) {
  throw ConnectionFailure{std::move(message)};
}

// A failure through a proxy names it, so that a user can tell their help
// desk which proxy failed.
std::string throughProxy(std::string message, const std::optional<ProxyServer>& proxy) {
  if (proxy) message += "\r\nProxy: " + proxyName(*proxy);
  return message;
}

// A socket's failure, named with the proxy it went to (if any).
[[noreturn]] void failWith(const boost::system::error_code& error,
                           const std::optional<ProxyServer>& proxy = std::nullopt) {
  failWith(throughProxy(socketErrorMessage(socketErrorCode(error)), proxy));
}

// A connection already opened by the client, for TLS to go over: its own
// connect and close are the client's to make.
class OpenedConnection : public Transport {
 public:
  explicit OpenedConnection(Transport& inner) : inner_(inner) {}
  void connect(const std::string&, uint16_t, boost::system::error_code&) override {}
  bool isOpen() const override { return inner_.isOpen(); }
  void write(const char* data, size_t size, boost::system::error_code& error) override {
    inner_.write(data, size, error);
  }
  size_t readSome(char* data, size_t size, boost::system::error_code& error) override {
    return inner_.readSome(data, size, error);
  }
  bool waitReadable(int timeoutMs) override { return inner_.waitReadable(timeoutMs); }
  void close() override {}

 private:
  Transport& inner_;
};

std::string withoutBrackets(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    return host.substr(1, host.size() - 2);
  return host;
}

// Counts the lines of a response head, its status line and any empty lines
// before it included, or of a chunked body's trailer, against the bounds of a
// head; raises "Max header size exceeded." past them.
struct HeadBound {
  size_t lines = 0;
  size_t bytes = 0;
  void count(std::string_view line) {
    bytes += line.size() + 2;
    if (++lines > kMaxHeaderLines + 1 || bytes > kMaxHeadBytes) failWith(kMaxHeaderExceeded);
  }
};

struct ResponseHead {
  std::string statusLine;  // exactly as received, without CR LF
  int status = -1;         // -1 when the status line holds no status code
  int64_t contentLength = -1;
  bool chunked = false;
  bool connectionClose = false;
  bool hasLocation = false;
  std::string location;                        // the Location value, when there is one
  std::vector<std::string> proxyAuthenticate;  // a proxy's challenges
  std::string contentRange;
  std::vector<std::string> setCookies;
};

enum class Framing { kNone, kContentLength, kChunked, kUntilClose };

// Whether the response is a redirect that the GET follows.
bool followed(const ResponseHead& head, Redirects redirects) {
  const bool redirect = head.status == 301 || head.status == 302 || head.status == 303 ||
                        head.status == 307 || head.status == 308;
  return redirects == Redirects::Follow && redirect && !head.location.empty();
}

Framing framingOf(const ResponseHead& head) {
  if ((head.status >= 100 && head.status <= 199) || head.status == 204 || head.status == 304) {
    return Framing::kNone;
  }
  if (head.contentLength >= 0) return Framing::kContentLength;
  if (head.chunked) return Framing::kChunked;
  return Framing::kUntilClose;
}

using base::trim;

beast::string_view beastView(std::string_view text) {
  return {text.data(), text.size()};
}

// "HTTP/1.1 404 Not Found" -> 404; -1 when there is no code after the first blank.
int statusCodeOf(std::string_view statusLine) {
  size_t blank = statusLine.find(' ');
  if (blank == std::string_view::npos) return -1;
  std::string_view rest = trim(statusLine.substr(blank + 1));
  int code = 0;
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
    if (digits == 3) return -1;
    code = code * 10 + (rest[digits] - '0');
    ++digits;
  }
  return digits == 0 ? -1 : code;
}

// A decimal Content-Length; -1 when it is not one.
int64_t contentLengthOf(std::string_view value) {
  return base::decimalValue(value, 18).value_or(-1);
}

// The size at the start of a chunk-size line (extensions after it ignored).
// A line without a size cannot frame the rest of the body: the transfer ends
// as if the server had closed in the middle of it.
int64_t chunkSizeOf(std::string_view line) {
  line = trim(line);
  int64_t size = 0;
  size_t digits = 0;
  for (; digits < line.size(); ++digits) {
    const int value = base::hexDigitValue(line[digits]);
    if (value < 0) break;
    if (digits == 15) failWith(kClosedGracefully);
    size = size * 16 + value;
  }
  if (digits == 0) failWith(kClosedGracefully);
  return size;
}

class DiscardSink : public BodySink {
 public:
  void write(const char*, size_t) override {}
};

}  // namespace

struct Client::Impl {
  explicit Impl(std::unique_ptr<Transport> transport) : plain(std::move(transport)) {}

  // The connection to the server or its proxy, and TLS over it for an https
  // URL: the stream the requests and responses go through is one or the
  // other.
  std::unique_ptr<Transport> plain;
  OpenedConnection opened{*plain};
  std::unique_ptr<Transport> tls;
  Transport* connection = plain.get();
  bool connectedHttps = false;
  std::string connectedHost;  // what the open connection leads to
  uint16_t connectedPort = 0;
  CookieStore cookies;
  Progress* progress = nullptr;

  // The ways to each server (scheme, host and port), found once per client.
  std::function<Route(const Url&)> routes = systemRoute;
  std::map<std::string, Route> knownRoutes;
  // The proxy the open connection goes through (nullopt: direct), what a
  // request through it carries for the proxy, and a logon in progress.
  std::optional<ProxyServer> via;
  std::string proxyAuthorization;
  std::unique_ptr<ProxyLogon> logon;

  // Received bytes not yet consumed are buffer[begin, end).
  std::unique_ptr<char[]> buffer{new char[kBufferSize]};
  size_t begin = 0;
  size_t end = 0;
  uint64_t receivedBytes = 0;  // all that ever arrived, to tell whether a response began
  int readLimitMs = kNoReadLimit;
  int silenceLimitMs = kDefaultReadLimitMs;
  bool inBody = false;  // the body of a successful response is being read

  void get(const std::string& url, BodySink& sink, std::optional<uint64_t> rangeFrom,
           Redirects redirects);
  // The head of a response that is not a success; nothing on success.
  std::optional<ResponseHead> exchange(const Url& url, BodySink& sink,
                                       std::optional<uint64_t> rangeFrom, Redirects redirects);
  // The URLs the last GET was sent on to, in order.
  std::vector<std::string> redirectedTo;

  // Whether the connection was open already and is used again.
  bool connect(const Url& url);
  // The connection to the URL's server by one way: direct, or through the
  // proxy (a tunnel for https). A connection that cannot be made raises
  // ConnectionFailure, and the next way is tried.
  void open(const Url& url, const std::optional<ProxyServer>& way);
  // A new TCP connection to the URL's server, or to the proxy when there is one.
  void dial(const Url& url, const std::optional<ProxyServer>& way);
  void tunnel(const Url& url, const ProxyServer& proxy);
  // The Proxy-Authorization that answers the proxy's 407; empty when none can.
  std::string answerProxy(const ResponseHead& head, const ProxyServer& proxy);
  // A logon authenticates the connection (or tunnel) it was made on: once
  // it has gone through, later requests carry nothing of it.
  void endLogon() {
    if (!logon) return;
    proxyAuthorization.clear();
    logon.reset();
  }
  void closeConnection();

  size_t receive(char* data, size_t size);
  std::string_view readLine();
  ResponseHead readHead();

  void readBody(const ResponseHead& head, BodySink& sink);
  void discardBody(const ResponseHead& head);
  void readCounted(int64_t length, BodySink& sink);
  void readChunked(BodySink& sink);
  void readUntilClose(BodySink& sink);

  void workBegin(int64_t count) {
    if (progress != nullptr) progress->workBegin(count);
  }
  void work(int64_t count) {
    if (progress != nullptr) progress->work(count);
  }
};

void Client::Impl::get(const std::string& url, BodySink& sink, std::optional<uint64_t> rangeFrom,
                       Redirects redirects) {
  Url target = parseUrl(url);
  redirectedTo.clear();
  int proxyAnswers = 0;
  for (;;) {
    std::optional<ResponseHead> failed;
    inBody = false;
    try {
      failed = exchange(target, sink, rangeFrom, redirects);
    } catch (const ConnectionFailure& failure) {
      closeConnection();
      if (inBody) throw BrokenTransfer(failure.message);
      throw base::Error(failure.message);
    } catch (...) {
      closeConnection();
      throw;
    }
    if (!failed) {
      endLogon();
      return;
    }
    if (failed->status == 407 && via && !target.https && ++proxyAnswers <= kMaxProxyAnswers) {
      // The proxy asks who the user is: the same GET again with the answer.
      proxyAuthorization = answerProxy(*failed, *via);
      if (!proxyAuthorization.empty()) continue;
    }
    if (!followed(*failed, redirects)) {
      throw StatusError(failed->status == 407 && !target.https
                            ? throughProxy(failed->statusLine, via)
                            : failed->statusLine,
                        failed->status);
    }
    // The same GET (with its range) on the new location.
    const std::string next = resolveLocation(target, failed->location);
    Url nextUrl;
    try {
      nextUrl = parseUrl(next);
    } catch (const base::Error&) {
      throw StatusError(failed->statusLine, failed->status);
    }
    // A redirect refused ends the transfer as a failed connection does.
    std::string refused;
    if (redirectedTo.size() == kMaxRedirects)
      refused = "More than " + std::to_string(kMaxRedirects) + " redirects (" + next + ")";
    else if (target.https && !nextUrl.https)
      refused = "Redirect from https to http refused (" + next + ")";
    if (!refused.empty()) {
      closeConnection();
      throw base::Error(refused);
    }
    redirectedTo.push_back(next);
    target = std::move(nextUrl);
  }
}

std::optional<ResponseHead> Client::Impl::exchange(const Url& url, BodySink& sink,
                                                   std::optional<uint64_t> rangeFrom,
                                                   Redirects redirects) {
  ResponseHead head;
  for (bool reused = connect(url);; reused = connect(url)) {
    // Through a proxy an http request names the whole URL; an https one goes
    // through the tunnel as it would to the server.
    const bool proxied = via && !url.https;
    const std::string request = requestHead(url, cookies.header(url.host, url.path), rangeFrom,
                                            proxied, proxied ? proxyAuthorization : std::string());
    const uint64_t receivedBefore = receivedBytes;
    try {
      boost::system::error_code error;
      connection->write(request.data(), request.size(), error);
      if (error) failWith(error);
      int interim = 0;
      do {
        if (interim++ > kMaxInterimResponses) failWith(kMaxHeaderExceeded);
        head = readHead();  // interim 1xx responses are skipped
      } while (head.status >= 100 && head.status <= 199);
      break;
    } catch (const ConnectionFailure& failure) {
      // A server may close an idle connection as a request goes out on it,
      // and some proxies close after every response without saying so: a
      // GET that got nothing back on a connection used before is sent once
      // more, on a new one.
      if (!reused || receivedBytes != receivedBefore || failure.silence) throw;
    }
    closeConnection();
  }
  for (const std::string& setCookie : head.setCookies) cookies.store(setCookie, url.host);

  bool success = head.status >= 200 && head.status <= 299 && !head.hasLocation;
  if (success) {
    sink.answered(head.status, head.contentRange);
    inBody = true;
    readBody(head, sink);
    inBody = false;
  } else if (followed(head, redirects)) {
    // The body of a redirect that is followed is no part of the transfer:
    // the bar and the byte line do not see it.
    Progress* const receiver = std::exchange(progress, nullptr);
    try {
      discardBody(head);
    } catch (...) {
      progress = receiver;
      throw;
    }
    progress = receiver;
  } else {
    discardBody(head);
  }
  if (head.connectionClose) closeConnection();
  if (success) return std::nullopt;
  return head;
}

bool Client::Impl::connect(const Url& url) {
  const std::string key = originOf(url);
  auto known = knownRoutes.find(key);
  if (known == knownRoutes.end()) known = knownRoutes.emplace(key, routes(url)).first;
  const Route& route = known->second;
  if (connection->isOpen()) {
    // An idle connection has nothing to read; if it has, the server closed
    // it (or sent something nobody asked for), and a new one replaces it.
    if (url.https == connectedHttps && url.host == connectedHost && url.port == connectedPort &&
        begin == end && !connection->waitReadable(0)) {
      return true;
    }
    closeConnection();
  }
  std::string failure;
  for (const std::optional<ProxyServer>& way : route) {
    try {
      open(url, way);
      connectedHttps = url.https;
      connectedHost = url.host;
      connectedPort = url.port;
      return false;
    } catch (const ConnectionFailure& refused) {
      failure = refused.message;
      closeConnection();
    }
  }
  failWith(failure);
}

void Client::Impl::open(const Url& url, const std::optional<ProxyServer>& way) {
  // Credentials go to a proxy that asks for them (and on to later requests
  // through it), never ahead of that.
  if (way != via) proxyAuthorization.clear();
  via = way;
  logon.reset();
  connection = plain.get();
  dial(url, way);
  if (!url.https) return;
  if (way) tunnel(url, *way);
  if (!tls) tls = makeTlsTransport(opened);
  connection = tls.get();
  boost::system::error_code error;
  tls->connect(withoutBrackets(url.host), url.port, error);
  if (error) failWith(error);
}

void Client::Impl::dial(const Url& url, const std::optional<ProxyServer>& way) {
  plain->close();
  begin = end = 0;
  boost::system::error_code error;
  plain->connect(withoutBrackets(way ? way->host : url.host), way ? way->port : url.port, error);
  if (error) failWith(error, way);
}

// CONNECT host:port, answered by the proxy with a 2xx before anything of
// the server's; a refusal is the proxy's status line, naming it.
void Client::Impl::tunnel(const Url& url, const ProxyServer& proxy) {
  const std::string target = url.host + ":" + std::to_string(url.port);
  for (int answers = 0;; ++answers) {
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!proxyAuthorization.empty())
      request += "Proxy-Authorization: " + proxyAuthorization + "\r\n";
    request += "\r\n";
    boost::system::error_code error;
    plain->write(request.data(), request.size(), error);
    if (error) failWith(error, proxy);
    ResponseHead head = readHead();
    if (head.status >= 200 && head.status <= 299) {
      endLogon();
      begin = end = 0;
      return;
    }
    discardBody(head);
    if (head.status == 407 && answers < kMaxProxyAnswers) {
      proxyAuthorization = answerProxy(head, proxy);
      if (!proxyAuthorization.empty()) {
        // A proxy that closes after its 407 is answered on a new connection.
        if (head.connectionClose || !plain->isOpen()) dial(url, proxy);
        continue;
      }
    }
    throw StatusError(throughProxy(head.statusLine, proxy), head.status);
  }
}

std::string Client::Impl::answerProxy(const ResponseHead& head, const ProxyServer& proxy) {
  for (const std::string& challenge : head.proxyAuthenticate) {
    const size_t blank = challenge.find(' ');
    const std::string scheme = challenge.substr(0, blank);
    const std::string data =
        blank == std::string::npos ? "" : std::string(trim(challenge.substr(blank + 1)));
    if (beast::iequals(scheme, "Basic")) {
      // Credentials are sent once: asked again, they were refused.
      const std::string basic = basicAuthorization(proxy);
      if (!basic.empty() && basic != proxyAuthorization) return basic;
      continue;
    }
    if (!beast::iequals(scheme, "Negotiate") && !beast::iequals(scheme, "NTLM")) continue;
    if (!logon) {
      if (!data.empty()) continue;  // a challenge without a logon of ours
      logon = systemProxyLogon(scheme, withoutBrackets(proxy.host));
      if (!logon) continue;
    }
    if (std::optional<std::string> token = logon->answer(data)) return scheme + " " + *token;
    logon.reset();
  }
  return {};
}

void Client::Impl::closeConnection() {
  connection->close();
  plain->close();
  connectedHost.clear();
  connectedPort = 0;
  begin = end = 0;
}

// What the connection has, up to size bytes; 0 when the server has closed.
size_t Client::Impl::receive(char* data, size_t size) {
  if (readLimitMs != kNoReadLimit) {
    if (!connection->waitReadable(readLimitMs)) throw ReadLimitReached{};
  } else if (progress != nullptr && !connection->waitReadable(0)) {
    // Bytes come only as fast as the server sends them; in between, the
    // receiver keeps its window alive, until the silence is too long.
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
      if (waited >= silenceLimitMs) throw ConnectionFailure{socketErrorMessage(kTimedOut), true};
      const int wait =
          static_cast<int>(std::min<int64_t>(kWaitingIntervalMs, silenceLimitMs - waited));
      if (connection->waitReadable(wait)) break;
      progress->waiting();
    }
  }
  boost::system::error_code error;
  size_t received = connection->readSome(data, size, error);
  receivedBytes += received;
  if (error == asio::error::eof) return 0;
  if (error) failWith(error);
  return received;
}

// The next line without its CR LF; valid until the buffer is read again.
std::string_view Client::Impl::readLine() {
  char* data = buffer.get();
  size_t scanned = begin;
  for (;;) {
    if (auto* lf = static_cast<char*>(std::memchr(data + scanned, '\n', end - scanned))) {
      std::string_view line(data + begin, static_cast<size_t>(lf - (data + begin)));
      begin += line.size() + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() > kMaxLineLength) failWith(kMaxLineExceeded);
      return line;
    }
    // Even with a CR as its last byte, what is there already is too long.
    if (end - begin > kMaxLineLength + 1) failWith(kMaxLineExceeded);
    scanned = end;
    if (end == kPieceSize) {
      std::memmove(data, data + begin, end - begin);
      scanned -= begin;
      end -= begin;
      begin = 0;
    }
    size_t received = receive(data + end, kPieceSize - end);
    if (received == 0) failWith(kClosedGracefully);
    end += received;
  }
}

ResponseHead Client::Impl::readHead() {
  ResponseHead head;
  HeadBound bound;
  std::string_view line;
  do {
    line = readLine();
    bound.count(line);  // empty lines before the status line count too
  } while (line.empty());
  head.statusLine = line;
  head.status = statusCodeOf(line);

  bool hasContentLength = false;
  bool chunkedToken = false;
  while (!(line = readLine()).empty()) {
    bound.count(line);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    beast::string_view name = beastView(trim(line.substr(0, colon)));
    beast::string_view value = beastView(trim(line.substr(colon + 1)));
    if (beast::iequals(name, "Content-Length")) {
      head.contentLength = contentLengthOf(std::string_view(value.data(), value.size()));
      hasContentLength = head.contentLength >= 0;
    } else if (beast::iequals(name, "Transfer-Encoding")) {
      for (auto token : beast::http::token_list(value)) {
        if (token == "chunked") chunkedToken = true;
      }
    } else if (beast::iequals(name, "Connection")) {
      for (auto token : beast::http::token_list(value)) {
        if (beast::iequals(token, "close")) head.connectionClose = true;
      }
    } else if (beast::iequals(name, "Content-Range")) {
      head.contentRange.assign(value.data(), value.size());
    } else if (beast::iequals(name, "Location")) {
      head.hasLocation = true;
      head.location.assign(value.data(), value.size());
    } else if (beast::iequals(name, "Proxy-Authenticate")) {
      head.proxyAuthenticate.emplace_back(value.data(), value.size());
    } else if (beast::iequals(name, "Set-Cookie")) {
      head.setCookies.emplace_back(value.data(), value.size());
    }
  }
  head.chunked = chunkedToken && !hasContentLength;
  return head;
}

void Client::Impl::readBody(const ResponseHead& head, BodySink& sink) {
  switch (framingOf(head)) {
    case Framing::kNone:
      return;
    case Framing::kContentLength:
      sink.announced(head.contentLength);
      workBegin(head.contentLength);
      readCounted(head.contentLength, sink);
      return;
    case Framing::kChunked:
      readChunked(sink);
      return;
    case Framing::kUntilClose:
      readUntilClose(sink);
      return;
  }
}

// The body of an error response is read with a limit on each read and thrown
// away; when it cannot be read to its end the connection is given up.
void Client::Impl::discardBody(const ResponseHead& head) {
  DiscardSink sink;
  readLimitMs = kErrorBodyReadLimitMs;
  try {
    readBody(head, sink);
  } catch (const ConnectionFailure&) {
    closeConnection();
  } catch (const ReadLimitReached&) {
    closeConnection();
  } catch (...) {
    readLimitMs = kNoReadLimit;
    throw;
  }
  readLimitMs = kNoReadLimit;
}

// A body or chunk of a known length: first the bytes that came with its head,
// then what the socket has, never beyond the body's end. A work event follows
// the first bytes and then every piece boundary passed, the body's end included.
void Client::Impl::readCounted(int64_t length, BodySink& sink) {
  int64_t total = 0;
  size_t buffered =
      static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(end - begin), length));
  if (buffered > 0) {
    sink.write(buffer.get() + begin, buffered);
    begin += buffered;
    total = static_cast<int64_t>(buffered);
    work(total);
  }
  if (total == length) return;
  begin = end = 0;
  int64_t nextEvent = std::min<int64_t>(total + kPieceSize, length);
  while (total < length) {
    size_t wanted = static_cast<size_t>(std::min<int64_t>(kBufferSize, length - total));
    size_t received = receive(buffer.get(), wanted);
    // A body shorter than announced is never taken for a whole one.
    if (received == 0) failWith(kClosedGracefully);
    sink.write(buffer.get(), received);
    total += static_cast<int64_t>(received);
    while (nextEvent <= total) {
      work(nextEvent);
      if (nextEvent == length) break;
      nextEvent = std::min<int64_t>(nextEvent + kPieceSize, length);
    }
  }
}

void Client::Impl::readChunked(BodySink& sink) {
  for (;;) {
    int64_t size = chunkSizeOf(readLine());
    if (size == 0) break;
    workBegin(size);
    readCounted(size, sink);
    readLine();  // the line end after the chunk's data
  }
  // Trailer lines are read and ignored, within the bounds of a head.
  HeadBound bound;
  for (std::string_view line; !(line = readLine()).empty();) bound.count(line);
}

void Client::Impl::readUntilClose(BodySink& sink) {
  workBegin(0);
  int64_t total = 0;
  if (end > begin) {
    sink.write(buffer.get() + begin, end - begin);
    total = static_cast<int64_t>(end - begin);
    work(total);
  }
  begin = end = 0;
  // Events at every whole piece; the last partial piece gets none.
  for (int64_t nextEvent = total + kPieceSize;;) {
    size_t received = receive(buffer.get(), kBufferSize);
    if (received == 0) break;  // the server closed
    sink.write(buffer.get(), received);
    total += static_cast<int64_t>(received);
    for (; nextEvent <= total; nextEvent += kPieceSize) work(nextEvent);
  }
  closeConnection();
}

Client::Client() : Client(makeSocketTransport()) {}

Client::Client(std::unique_ptr<Transport> transport)
    : impl_(std::make_unique<Impl>(transport ? std::move(transport) : makeSocketTransport())) {}

Client::~Client() = default;

void Client::setRoutes(std::function<Route(const Url&)> routes) {
  impl_->routes = std::move(routes);
  impl_->knownRoutes.clear();
}

void Client::setProgress(Progress* progress) {
  impl_->progress = progress;
}

void Client::get(const std::string& url, BodySink& sink, std::optional<uint64_t> rangeFrom,
                 Redirects redirects) {
  impl_->get(url, sink, rangeFrom, redirects);
}

const std::vector<std::string>& Client::redirectedTo() const {
  return impl_->redirectedTo;
}

void Client::setReadLimit(int milliseconds) {
  impl_->silenceLimitMs = milliseconds;
}

std::string Client::getText(const std::string& url) {
  TextSink sink;
  impl_->get(url, sink, std::nullopt, Redirects::Refuse);
  return std::move(sink.text);
}

void TextSink::write(const char* data, size_t size) {
  if (size > limit_ - text.size()) throw base::Error(limitText_);
  text.append(data, size);
}

}  // namespace http
