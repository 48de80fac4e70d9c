// Which proxy a request goes through: the rules of the settings the system
// and the environment hold, as plain functions over their texts. Where the
// settings are read is the system's part (platform/*/proxy_settings.cpp);
// how a request goes through a proxy is the client's (http_client.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/url.h"

namespace http {

struct ProxyServer {
  std::string host;  // as written (an IPv6 literal in its brackets)
  uint16_t port = 0;
  // Basic credentials the setting itself carries ("user:pass@host"),
  // percent-decoded; empty for none.
  std::string user;
  std::string password;
  bool operator==(const ProxyServer&) const = default;
};

// The ways to a server, tried in order: the next is tried when a connection
// to one cannot be made (not on an HTTP error); nullopt is a direct
// connection. Never empty.
using Route = std::vector<std::optional<ProxyServer>>;

// "host:port": how a failure names the proxy it came through.
std::string proxyName(const ProxyServer& proxy);

// "[http://][user:password@]host[:port][/]"; nullopt for another scheme or no
// usable host and port.
std::optional<ProxyServer> parseProxyAddress(std::string_view text, uint16_t defaultPort);

// The answer of a proxy script or of the system's resolver: "PROXY a:1;
// PROXY b:2; DIRECT" (HTTP is taken for PROXY; SOCKS and other kinds are
// skipped). Nothing usable is a direct connection.
Route parseProxyList(std::string_view list);

// The rules of a fixed proxy setting as Windows keeps it: the proxies
// ("a:80", or per scheme "http=a:80;https=b:8080", entries separated by ";"
// or blanks) and the bypass list ("<local>" for names without a dot, "*"
// patterns, an optional "scheme://" and ":port"). A URL with no proxy of its
// scheme, or in the bypass list, goes direct. The system's resolver answers
// a proxy script in the same form ("a:1;b:2"), where an entry "DIRECT" is a
// direct connection in its place.
Route fixedProxyRoute(std::string_view proxies, std::string_view bypass, const Url& url);

// The environment as curl reads it: http_proxy for http URLs (HTTP_PROXY is
// ignored, as it can be set by a request's header in CGI programs),
// https_proxy or HTTPS_PROXY for https URLs, default port 1080; no_proxy or
// NO_PROXY: "*", host names that also cover their subdomains (a leading "."
// is the same), IP addresses and IPv4 ranges ("10.0.0.0/8"), each with an
// optional ":port".
using Variable = std::function<std::optional<std::string>(const char* name)>;
Route environmentRoute(const Url& url, const Variable& variable);

// The system's route for the URL: the environment on Linux, the user's or
// the machine's setting (and a proxy script's answer) on Windows
// (platform/*/proxy_settings.cpp).
Route systemRoute(const Url& url);

// "Basic <base64 of user:password>" for a proxy whose setting carries
// credentials; empty for one without.
std::string basicAuthorization(const ProxyServer& proxy);

// The answer to a proxy that asks who the user is with a challenge-response
// scheme (Negotiate, NTLM), with the logged-on user's own credentials: no
// password is asked for or stored. The system's (SSPI on Windows); none
// elsewhere.
class ProxyLogon {
 public:
  virtual ~ProxyLogon() = default;
  // The token to send after the scheme's name for the proxy's challenge
  // (empty before the first); nullopt when the exchange cannot go on.
  virtual std::optional<std::string> answer(std::string_view challenge) = 0;
};
// A logon with the scheme ("Negotiate" or "NTLM") to the proxy host; null
// where the system cannot answer it.
std::unique_ptr<ProxyLogon> systemProxyLogon(const std::string& scheme,
                                             const std::string& proxyHost);

}  // namespace http
