// The HTTP client: URLs and the request head, cookies, socket error texts,
// and whole GETs against the scripted loopback server.
#include <gtest/gtest.h>

#include <cerrno>

#include <boost/asio/error.hpp>

#include "http/cookies.h"
#include "http/http_client.h"
#include "http/socket_error.h"
#include "http/socket_system.h"
#include "http/url.h"
#include "base/error.h"
#include "script_server.h"

using testing_server::ScriptServer;
using Events = std::vector<std::string>;

namespace {

const char kRequestTail[] =
    "Accept: text/html, */*\r\n"
    "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";

class RecordingProgress : public http::Progress {
 public:
  Events events;
  void workBegin(int64_t count) override { events.push_back("begin " + std::to_string(count)); }
  void work(int64_t count) override { events.push_back("work " + std::to_string(count)); }
};

class StringSink : public http::BodySink {
 public:
  std::string body;
  void write(const char* data, size_t size) override { body.append(data, size); }
};

// The message of the error one GET raises; "<none>" when it succeeds.
std::string errorOf(http::Client& client, const std::string& url, http::BodySink& sink) {
  try {
    client.get(url, sink);
  } catch (const base::Error& error) {
    return error.message();
  }
  return "<none>";
}

std::string ok(const std::string& body, const std::string& headers = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers +
         "\r\n" + body;
}

TEST(HttpUrl, PathIsKeptByteForByteWithSlashesAndWithoutFragment) {
  http::Url url = http::parseUrl("http://update.example:8080\\base\\sub\\x.dll#part");
  EXPECT_EQ(url.host, "update.example");
  EXPECT_EQ(url.port, 8080);
  EXPECT_EQ(url.path, "/base/sub/x.dll");

  url = http::parseUrl("HTTP://update.example/a b\xd6\xd0%20.dll");
  EXPECT_EQ(url.port, 80);
  EXPECT_EQ(url.path, "/a b\xd6\xd0%20.dll");
  EXPECT_EQ(http::parseUrl("http://update.example").path, "/");
  EXPECT_EQ(http::parseUrl("http://update.example#top").path, "/");
  EXPECT_EQ(http::parseUrl("http://update.example:80/x").port, 80);
}

TEST(HttpUrl, OtherSchemesAndBrokenAuthoritiesRaiseAnEmptyMessage) {
  for (const char* url : {"ftp://update.example/x", "update.example/x", "https:///x", "http:///x",
                          "http://h:0/x", "http://h:99999/x", "http://h:8o/x"}) {
    try {
      http::parseUrl(url);
      ADD_FAILURE() << url;
    } catch (const base::Error& error) {
      EXPECT_EQ(error.message(), "") << url;
    }
  }
}

TEST(HttpUrl, HttpsAndWhereALocationLeads) {
  const http::Url secure = http::parseUrl("HTTPS://cdn.example/rel/sub/a.dll?x=1");
  EXPECT_TRUE(secure.https);
  EXPECT_EQ(secure.port, 443);
  EXPECT_EQ(http::hostHeaderValue(secure), "cdn.example");
  EXPECT_EQ(http::hostHeaderValue(http::parseUrl("https://h:80/")), "h:80");
  EXPECT_EQ(http::hostHeaderValue(http::parseUrl("http://h:443/")), "h:443");
  const http::Url plain = http::parseUrl("http://h:8080/a/b");
  struct Case {
    const http::Url& from;
    const char* location;
    const char* to;
  } cases[] = {
      {secure, "http://other/x", "http://other/x"},
      {secure, "//other:8443/y", "https://other:8443/y"},
      {secure, "/z?q", "https://cdn.example/z?q"},
      {secure, "b.dll", "https://cdn.example/rel/sub/b.dll"},
      {plain, "/c", "http://h:8080/c"},
      {plain, "c:d", "http://h:8080/a/c:d"},
      {plain, "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(http::resolveLocation(c.from, c.location), c.to);
}

TEST(HttpUrl, RequestHeadNamesThePortOnlyWhenItIsNot80) {
  EXPECT_EQ(http::requestHead(http::parseUrl("http://update.example/d/u.ini"), ""),
            std::string("GET /d/u.ini HTTP/1.1\r\nContent-Type: text/html\r\n"
                        "Host: update.example\r\n") +
                kRequestTail + "\r\n");
  EXPECT_EQ(http::requestHead(http::parseUrl("http://update.example:8080/"), "a=1; b=2"),
            std::string("GET / HTTP/1.1\r\nContent-Type: text/html\r\n"
                        "Host: update.example:8080\r\n") +
                kRequestTail + "Cookie: a=1; b=2\r\n\r\n");
}

TEST(HttpCookies, SetterHostOnlyPathPrefixAndNoPathNeverSent) {
  http::CookieStore store;
  store.store("a=1; Path=/", "www.example.com");
  store.store("nopath=x", "www.example.com");
  store.store("b=2; path=/base; expires=Wed, 01 Jan 2031 00:00:00 GMT", "www.example.com");
  store.store("c=3; domain=.Example.com; path=/", "www.example.com");
  store.store("e=5; domain=elsewhere; path=/", "www.example.com");  // refused
  store.store("d=4; path=/", "other.host");
  store.store("a=5; path=/", "www.example.com");  // replaces the first one

  EXPECT_EQ(store.header("www.example.com", "/base/x.dll"), "a=5; b=2; c=3");
  EXPECT_EQ(store.header("WWW.EXAMPLE.COM", "/other"), "a=5; c=3");
  EXPECT_EQ(store.header("other.host", "/x"), "d=4");
  EXPECT_EQ(store.header("example.com", "/"), "");  // not the host that set c
  EXPECT_EQ(store.header("unrelated", "/"), "");

  // At most 50 cookies of at most 4 KiB: a larger one and the 51st are dropped.
  http::CookieStore full;
  full.store("big=" + std::string(4094, 'v') + "; path=/", "h");
  for (int i = 0; i < 60; ++i)
    full.store(std::string(1, 'k').append(std::to_string(i)).append("=v; path=/"), "h");
  const std::string sent = full.header("h", "/");
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '='), 50);
  EXPECT_EQ(sent.rfind("k0=v;", 0), 0u);
  EXPECT_NE(sent.find("k49=v"), std::string::npos);
}

TEST(HttpSocketError, TextsAndCodes) {
  EXPECT_EQ(http::socketErrorMessage(10061), "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(http::socketErrorMessage(11001), "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(http::socketErrorMessage(10060), "Socket Error # 10060\r\nConnection timed out.");
  EXPECT_EQ(http::socketErrorMessage(10054), "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(http::socketErrorMessage(12345), "Socket Error # 12345\r\n");

  auto code = [](int value) {
    return http::socketErrorCode(
        boost::system::error_code(value, boost::system::system_category()));
  };
#ifdef _WIN32
  EXPECT_EQ(code(10061), 10061);
  EXPECT_EQ(code(1225), 10061);
#else
  EXPECT_EQ(code(ECONNREFUSED), 10061);
  EXPECT_EQ(code(ECONNRESET), 10054);
  EXPECT_EQ(code(EPIPE), 10054);
  EXPECT_EQ(code(ETIMEDOUT), 10060);
  EXPECT_EQ(code(EHOSTUNREACH), 10065);
  EXPECT_EQ(http::socketErrorCode(boost::asio::error::host_not_found), 11001);
  EXPECT_EQ(http::socketErrorCode(boost::asio::error::no_data), 11004);
#endif
}

TEST(HttpGet, RequestBytesOnTheWireAndCookiesOfEarlierResponses) {
  ScriptServer server;
  server.accept()
      .readRequest()
      .send(ok("",
               "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n"
               "Set-Cookie: c=3; path=/other\r\nSet-Cookie: d=4; domain=elsewhere; path=/\r\n"))
      .readRequest()
      .send(ok(""))
      .readRequest()
      .send(ok(""))
      .start();
  http::Client client;
  StringSink sink;
  client.get(server.url("/base/file name\xd6\xd0.dll"), sink);
  client.get(server.url("\\base\\sub\\x.dll#fragment"), sink);
  client.get(server.url("/other/y"), sink);

  std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  std::string start = "Content-Type: text/html\r\n" + host + kRequestTail;
  EXPECT_EQ(server.requests(),
            (Events{"GET /base/file name\xd6\xd0.dll HTTP/1.1\r\n" + start + "\r\n",
                    "GET /base/sub/x.dll HTTP/1.1\r\n" + start + "Cookie: a=1\r\n\r\n",
                    "GET /other/y HTTP/1.1\r\n" + start + "Cookie: a=1; c=3\r\n\r\n"}));
}

TEST(HttpGet, ResponsesOtherThanSuccessRaiseTheirStatusLineAndDiscardTheBody) {
  const char* responses[] = {
      "HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\n0123456789",
      "HTTP/1.0 500 Internal  Server Error\r\nContent-Length: 3\r\n\r\nbad",
      "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 2\r\n\r\nmv",
      "HTTP/1.1 200 OK\r\nLocation: /x\r\nContent-Length: 2\r\n\r\nmv",
      "HTTP/1.1 304 Not Modified\r\n\r\n",
      "HTTP/1.1 401 Unauthorized\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nno!\r\n0\r\n\r\n",
  };
  for (const char* response : responses) {
    ScriptServer server;
    // The second GET on the same connection shows that the error body was read to its end.
    server.accept().readRequest().send(response).readRequest().send(ok("fine")).start();
    http::Client client;
    RecordingProgress progress;
    client.setProgress(&progress);
    StringSink sink;
    std::string statusLine(response, std::string_view(response).find('\r'));
    EXPECT_EQ(errorOf(client, server.url("/f"), sink), statusLine);
    EXPECT_EQ(sink.body, "");
    EXPECT_EQ(client.getText(server.url("/g")), "fine") << statusLine;
  }
}

TEST(HttpGet, ErrorBodyFiresProgressAndIsGivenUpWhenItStalls) {
  ScriptServer server;
  server.accept()
      .readRequest()
      .send("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\n0123456789")
      .pause(60000)
      .start();
  http::Client client;
  RecordingProgress progress;
  client.setProgress(&progress);
  StringSink sink;
  EXPECT_EQ(errorOf(client, server.url("/f"), sink), "HTTP/1.1 404 Not Found");
  EXPECT_FALSE(server.scriptFinished());  // the client gave up while the server still paused
  EXPECT_EQ(progress.events, (Events{"begin 100", "work 10"}));
  EXPECT_EQ(sink.body, "");
}

TEST(HttpGet, BrokenTransfersRaiseTheirTexts) {
  const std::string closed = "Connection Closed Gracefully.";
  const std::string longLine = "Max line length exceeded.";
  struct Case {
    std::string response;
    std::string message;
    std::string written;
  };
  std::string header16385 = "X-Long: " + std::string(16385 - 8, 'a') + "\r\n";
  const std::string headLimit = "Max header size exceeded.";
  auto lines = [](int count, size_t size) {
    std::string text;
    for (int i = 0; i < count; ++i)
      text += "X-" + std::to_string(i) + ": " + std::string(size, 'h') + "\r\n";
    return text;
  };
  const Case cases[] = {
      {"", closed, ""},
      {"HTTP/1.1 200 OK\r\nContent-Len", closed, ""},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n10\r\nabc", closed,
       "helloabc"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'x'), closed,
       std::string(50, 'x')},
      {"HTTP/1.1 200 OK\r\n" + header16385 + "Content-Length: 0\r\n\r\n", longLine, ""},
      {"HTTP/1.1 200 OK\r\n" + lines(101, 10) + "\r\n", headLimit, ""},
      {"HTTP/1.1 200 OK\r\n" + lines(80, 900) + "\r\n", headLimit, ""},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n" + lines(120, 10),
       headLimit, "ok"},
      {[] {
         std::string interim;
         for (int i = 0; i < 21; ++i) interim += "HTTP/1.1 102 Processing\r\n\r\n";
         return interim + "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
       }(),
       headLimit, ""},
  };
  for (const Case& test : cases) {
    ScriptServer server;
    server.accept().readRequest().send(test.response).close().start();
    http::Client client;
    StringSink sink;
    EXPECT_EQ(errorOf(client, server.url("/f"), sink), test.message) << test.response.size();
    EXPECT_EQ(sink.body, test.written);
  }
}

TEST(HttpGet, LineLimitIsPerLineNotPerHead) {
  std::string head = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(16384 - 8, 'a') + "\r\n";
  for (int i = 0; i < 40; ++i)
    head += "X-Line-" + std::to_string(i) + ": " + std::string(990, 'b') + "\r\n";
  ScriptServer server;
  server.accept().readRequest().send(head + "Content-Length: 2\r\n\r\nok").start();
  http::Client client;
  EXPECT_EQ(client.getText(server.url("/")), "ok");
}

TEST(HttpGet, SocketErrors) {
  http::Client client;
  StringSink sink;
  std::string refused = "http://127.0.0.1:" + std::to_string(ScriptServer::unusedPort()) + "/x";
  EXPECT_EQ(errorOf(client, refused, sink), "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(errorOf(client, "http://no-such-host.invalid/x", sink),
            "Socket Error # 11001\r\nHost not found.");

  ScriptServer server;
  server.accept()
      .readRequest()
      .send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'r'))
      .pause(200)
      .reset()
      .start();
  EXPECT_EQ(errorOf(client, server.url("/x"), sink),
            "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(HttpGet, ProgressOfAContentLengthBody) {
  ScriptServer server;
  server.accept()
      .readRequest()
      .send("HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n" + std::string(1000, 'a'))
      .pause(200)
      .send(std::string(69000, 'b'))
      .start();
  http::Client client;
  RecordingProgress progress;
  client.setProgress(&progress);
  StringSink sink;
  client.get(server.url("/f"), sink);
  EXPECT_EQ(progress.events,
            (Events{"begin 70000", "work 1000", "work 33768", "work 66536", "work 70000"}));
  EXPECT_EQ(sink.body, std::string(1000, 'a') + std::string(69000, 'b'));
}

TEST(HttpGet, WhileTheServerSendsNothingTheReceiverGetsControlBetweenTheEvents) {
  class WaitingProgress : public RecordingProgress {
   public:
    int waits = 0;
    void waiting() override { ++waits; }
  };
  ScriptServer server;
  server.accept()
      .readRequest()
      .send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab")
      .pause(450)
      .send("cd")
      .start();
  http::Client client;
  WaitingProgress progress;
  client.setProgress(&progress);
  StringSink sink;
  client.get(server.url("/f"), sink);
  EXPECT_EQ(progress.events, (Events{"begin 4", "work 2", "work 4"}));
  EXPECT_GE(progress.waits, 2);
  EXPECT_EQ(sink.body, "abcd");
}

TEST(HttpGet, ProgressOfAChunkedBodyRestartsPerChunk) {
  ScriptServer server;
  server.accept()
      .readRequest()
      .send("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n5;ext=1\r\nhello\r\n")
      .pause(200)
      .send("9000\r\n")
      .pause(200)
      .send(std::string(0x9000, 'c') + "\r\n0\r\nTrailer: x\r\n\r\n")
      .readRequest()
      .send(ok("next"))
      .start();
  http::Client client;
  RecordingProgress progress;
  client.setProgress(&progress);
  StringSink sink;
  client.get(server.url("/f"), sink);
  EXPECT_EQ(progress.events,
            (Events{"begin 5", "work 5", "begin 36864", "work 32768", "work 36864"}));
  EXPECT_EQ(sink.body, "hello" + std::string(0x9000, 'c'));
  EXPECT_EQ(client.getText(server.url("/g")), "next");
}

TEST(HttpGet, ProgressOfABodyReadUntilCloseSkipsTheLastPartialPiece) {
  ScriptServer server;
  server.accept()
      .readRequest()
      .send("HTTP/1.0 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n" + std::string(100, 'a'))
      .pause(200)
      .send(std::string(40000, 'b'))
      .close()
      .accept()
      .readRequest()
      .send(ok("again"))
      .start();
  http::Client client;
  RecordingProgress progress;
  client.setProgress(&progress);
  StringSink sink;
  client.get(server.url("/f"), sink);
  EXPECT_EQ(progress.events, (Events{"begin 0", "work 100", "work 32868"}));
  EXPECT_EQ(sink.body, std::string(100, 'a') + std::string(40000, 'b'));
  EXPECT_EQ(client.getText(server.url("/g")), "again");
}

TEST(HttpGet, ConnectionIsReusedUntilClosedByTheServer) {
  ScriptServer server;
  server.accept()
      .readRequest()
      .send(ok("one"))
      .readRequest()
      .send(ok("two", "Connection: close\r\n"))
      .accept()
      .readRequest()
      .send(ok("three"))
      .close()
      .accept()
      .readRequest()
      .send(ok("four"))
      // Closed as the next request arrives: sent once more, on a new
      // connection; a new connection closed so is the failure it is.
      .readRequest()
      .close()
      .accept()
      .readRequest()
      .send(ok("five"))
      .readRequest()
      .close()
      .accept()
      .readRequest()
      .close()
      .start();
  http::Client client;
  EXPECT_EQ(client.getText(server.url("/1")), "one");
  EXPECT_EQ(client.getText(server.url("/2")), "two");
  EXPECT_EQ(client.getText(server.url("/3")), "three");
  server.waitForClosed(2);
  EXPECT_EQ(client.getText(server.url("/4")), "four");
  EXPECT_EQ(client.getText(server.url("/5")), "five");
  StringSink sink;
  EXPECT_EQ(errorOf(client, server.url("/6"), sink), "Connection Closed Gracefully.");
  EXPECT_EQ(server.requests().size(), 8u);
}

TEST(HttpGet, InterimResponsesAreSkippedAndNoContentHasNoBody) {
  ScriptServer server;
  server.accept()
      .readRequest()
      .send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n" +
            std::string("\0\xff\n", 3))
      .readRequest()
      .send("HTTP/1.1 204 No Content\r\n\r\n")
      .readRequest()
      .send(ok(""))
      .start();
  http::Client client;
  RecordingProgress progress;
  client.setProgress(&progress);
  EXPECT_EQ(client.getText(server.url("/1")), std::string("\0\xff\n", 3));
  EXPECT_EQ(client.getText(server.url("/2")), "");
  EXPECT_EQ(client.getText(server.url("/3")), "");
  EXPECT_EQ(progress.events, (Events{"begin 3", "work 3", "begin 0"}));
}

TEST(HttpGet, ASinkFailureTravelsOutAndTheNextGetStartsAfresh) {
  class FailingSink : public http::BodySink {
   public:
    void write(const char*, size_t) override { throw base::Error("Disk full"); }
  };
  ScriptServer server;
  server.accept()
      .readRequest()
      .send(ok(std::string(5000, 'x')))
      .accept()
      .readRequest()
      .send(ok("ok"))
      .start();
  http::Client client;
  FailingSink failing;
  EXPECT_EQ(errorOf(client, server.url("/1"), failing), "Disk full");
  EXPECT_EQ(client.getText(server.url("/2")), "ok");
}

}  // namespace

namespace {

// Redirects followed where the caller asks for it: five at most, each GET
// again with its range; refused, the redirect is the error it always was.
TEST(HttpGet, RedirectsFollowedOnlyWhenAskedAndAtMostFive) {
  const auto moved = [](int n) {
    return "HTTP/1.1 " + std::string(n % 2 ? "307 Temporary Redirect" : "301 Moved Permanently") +
           "\r\nLocation: /r" + std::to_string(n) + "\r\nContent-Length: 0\r\n\r\n";
  };
  struct Case {
    int redirects;
    http::Redirects mode;
    std::string error;
  } cases[] = {
      {5, http::Redirects::Follow, "<none>"},
      {6, http::Redirects::Follow, "More than 5 redirects ("},
      {1, http::Redirects::Refuse, "HTTP/1.1 307 Temporary Redirect"},
  };
  for (const Case& c : cases) {
    ScriptServer server;
    server.accept();
    const int answered = std::min(c.redirects, c.mode == http::Redirects::Follow ? 6 : 1);
    for (int n = 1; n <= answered; ++n) server.readRequest().send(moved(n));
    if (c.redirects == 5)
      server.readRequest().send(
          "HTTP/1.1 206 Partial Content\r\n"
          "Content-Range: bytes 3-5/6\r\n"
          "Content-Length: 3\r\n\r\ndef");
    server.start();
    http::Client client;
    StringSink sink;
    std::string error = "<none>";
    try {
      client.get(server.url("/r0"), sink, 3, c.mode);
    } catch (const base::Error& e) {
      error = e.message().substr(0, c.error.size());
    }
    EXPECT_EQ(error, c.error) << c.redirects;
    const auto requests = server.requests();
    EXPECT_EQ(requests.size(), static_cast<size_t>(answered + (c.redirects == 5)));
    for (const std::string& request : requests)
      EXPECT_NE(request.find("\r\nRange: bytes=3-\r\n"), std::string::npos) << request;
    if (c.redirects == 5) {
      EXPECT_EQ(sink.body, "def");
      EXPECT_EQ(client.redirectedTo().back(), server.url("/r5"));
    }
  }
}

}  // namespace

namespace {

// The ways to a server are tried in order where a connection cannot be
// made; through a proxy the request names the whole URL, and the proxy's
// 407 gets the setting's Basic credentials once on the same connection.
TEST(HttpGet, ProxiesTriedInOrderAbsoluteFormAndBasicCredentials) {
  ScriptServer proxy;
  proxy.accept()
      .readRequest()
      .send(
          "HTTP/1.1 407 Proxy Authentication Required\r\n"
          "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n")
      .readRequest()
      .send(ok("body"))
      .start();
  const http::ProxyServer down{"127.0.0.1", ScriptServer::unusedPort(), "", ""};
  const http::ProxyServer up{"127.0.0.1", static_cast<uint16_t>(proxy.port()), "u", "p w"};
  http::Client client;
  client.setRoutes([&](const http::Url&) { return http::Route{down, up}; });
  StringSink sink;
  client.get("http://origin.example:8080/a?b", sink);
  EXPECT_EQ(sink.body, "body");
  const std::string start = "GET http://origin.example:8080/a?b HTTP/1.1\r\n";
  ASSERT_EQ(proxy.requests().size(), 2u);
  EXPECT_EQ(proxy.requests()[0].substr(0, start.size()), start);
  EXPECT_EQ(proxy.requests()[0].find("Proxy-Authorization"), std::string::npos);
  EXPECT_NE(proxy.requests()[1].find("\r\nProxy-Authorization: Basic dTpwIHc=\r\n"),
            std::string::npos);
}

}  // namespace
