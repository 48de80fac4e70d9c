#include "http/url.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"

namespace http {

namespace {

[[noreturn]] void raiseBadUrl() {
  throw base::Error(std::string());
}

}  // namespace

std::optional<uint16_t> portNumber(std::string_view text) {
  const std::optional<int64_t> port = base::decimalValue(text, 5);
  if (!port || *port == 0 || *port > 65535) return std::nullopt;
  return static_cast<uint16_t>(*port);
}

Url parseUrl(const std::string& text) {
  std::string url = text;
  std::replace(url.begin(), url.end(), '\\', '/');
  if (size_t hash = url.find('#'); hash != std::string::npos) url.erase(hash);

  size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) raiseBadUrl();
  Url result;
  const std::string scheme = url.substr(0, schemeEnd);
  result.https = base::equalsIgnoringAsciiCase(scheme, "https");
  if (!result.https && !base::equalsIgnoringAsciiCase(scheme, "http")) raiseBadUrl();
  if (result.https) result.port = kDefaultHttpsPort;
  size_t authorityBegin = schemeEnd + 3;
  size_t authorityEnd = url.find_first_of("/?", authorityBegin);
  if (authorityEnd == std::string::npos) authorityEnd = url.size();

  std::string authority = url.substr(authorityBegin, authorityEnd - authorityBegin);
  // User information is never sent: no authentication.
  if (size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  size_t colon = authority.rfind(':');
  if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
    const std::optional<uint16_t> port = portNumber(std::string_view(authority).substr(colon + 1));
    if (!port) raiseBadUrl();
    result.port = *port;
    authority.erase(colon);
  }
  if (authority.empty()) raiseBadUrl();
  result.host = authority;

  // A query right after the host ("http://h?x") still gets its "/".
  if (authorityEnd == url.size() || url[authorityEnd] != '/') result.path.push_back('/');
  result.path.append(url, authorityEnd, std::string::npos);
  return result;
}

std::string resolveLocation(const Url& request, const std::string& location) {
  if (location.empty()) return {};
  const std::string scheme = request.https ? "https:" : "http:";
  if (location.find("://") != std::string::npos &&
      location.find_first_of("/?#") > location.find(':'))
    return location;
  if (location.rfind("//", 0) == 0) return scheme + location;
  const std::string origin = originOf(request);
  if (location.front() == '/') return origin + location;
  std::string folder = request.path.substr(0, request.path.find('?'));
  folder.resize(folder.rfind('/') + 1);
  return origin + folder + location;
}

std::string originOf(const Url& url) {
  return (url.https ? "https://" : "http://") + hostHeaderValue(url);
}

std::string hostHeaderValue(const Url& url) {
  if (url.port == (url.https ? kDefaultHttpsPort : kDefaultPort)) return url.host;
  return url.host + ":" + std::to_string(url.port);
}

std::string requestHead(const Url& url, const std::string& cookieHeader,
                        std::optional<uint64_t> rangeFrom, bool absoluteForm,
                        const std::string& proxyAuthorization) {
  std::string head;
  head.reserve(200 + url.path.size() + url.host.size() + cookieHeader.size());
  head += "GET ";
  if (absoluteForm) head += originOf(url);
  head += url.path;
  head += " HTTP/1.1\r\n";
  head += "Content-Type: text/html\r\n";
  head += "Host: ";
  head += hostHeaderValue(url);
  head += "\r\n";
  head += "Accept: text/html, */*\r\n";
  head += "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
  if (rangeFrom) {
    head += "Range: bytes=";
    head += std::to_string(*rangeFrom);
    head += "-\r\n";
  }
  if (!cookieHeader.empty()) {
    head += "Cookie: ";
    head += cookieHeader;
    head += "\r\n";
  }
  if (!proxyAuthorization.empty()) {
    head += "Proxy-Authorization: ";
    head += proxyAuthorization;
    head += "\r\n";
  }
  head += "\r\n";
  return head;
}

}  // namespace http
