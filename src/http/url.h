// Request URLs and the request head that goes on the wire for them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace http {

inline constexpr uint16_t kDefaultPort = 80;
inline constexpr uint16_t kDefaultHttpsPort = 443;

struct Url {
  bool https = false;  // the scheme: https, or http
  std::string host;    // as written in the URL (brackets of an IPv6 literal kept)
  uint16_t port = kDefaultPort;
  std::string path;  // from the first "/" after the host, byte for byte; never empty
};

// Splits an http or https URL. Every "\" counts as "/", a "#" and all after it are
// dropped, nothing is percent-encoded or decoded, an empty path becomes "/".
// A URL whose scheme is neither (or that names no usable host and port)
// raises base::Error with an empty message.
Url parseUrl(const std::string& url);

// The URL a Location header value leads to from the request's URL: an
// absolute URL as it is, "//host/path" in the request's scheme, "/path" on
// the request's host, anything else relative to the request path's folder
// (the query of the request dropped). Empty for an empty value.
std::string resolveLocation(const Url& request, const std::string& location);

// A port number, 1 to 65535 in decimal; nullopt for anything else.
std::optional<uint16_t> portNumber(std::string_view text);

// The value of the Host header: the host, plus ":<port>" when the port is not
// the scheme's own (80, 443).
std::string hostHeaderValue(const Url& url);

// "http://host[:port]": the scheme and authority of the URL as a request
// names them.
std::string originOf(const Url& url);

// The whole request head of a GET, request line to the closing empty line.
// cookieHeader is the value of the Cookie header; empty sends none. With
// rangeFrom, the GET asks for the body from that byte on ("Range: bytes=k-").
// Through a proxy the request line names the whole URL (absoluteForm) and
// proxyAuthorization, when there is one, goes with it.
std::string requestHead(const Url& url, const std::string& cookieHeader,
                        std::optional<uint64_t> rangeFrom = std::nullopt, bool absoluteForm = false,
                        const std::string& proxyAuthorization = {});

}  // namespace http
