#include "http/url.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"

namespace http {

namespace {

[[noreturn]] void raiseBadUrl() {
  throw base::Error(std::string());
}

bool isHttpScheme(const std::string& scheme) {
  return base::equalsIgnoringAsciiCase(scheme, "http");
}

uint16_t parsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) raiseBadUrl();
  uint32_t port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') raiseBadUrl();
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  if (port == 0 || port > 65535) raiseBadUrl();
  return static_cast<uint16_t>(port);
}

}  // namespace

Url parseUrl(const std::string& text) {
  std::string url = text;
  std::replace(url.begin(), url.end(), '\\', '/');
  if (size_t hash = url.find('#'); hash != std::string::npos) url.erase(hash);

  size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || !isHttpScheme(url.substr(0, schemeEnd))) raiseBadUrl();
  size_t authorityBegin = schemeEnd + 3;
  size_t authorityEnd = url.find_first_of("/?", authorityBegin);
  if (authorityEnd == std::string::npos) authorityEnd = url.size();

  Url result;
  std::string authority = url.substr(authorityBegin, authorityEnd - authorityBegin);
  // User information is never sent: no authentication.
  if (size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  size_t colon = authority.rfind(':');
  if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
    result.port = parsePort(authority.substr(colon + 1));
    authority.erase(colon);
  }
  if (authority.empty()) raiseBadUrl();
  result.host = authority;

  // A query right after the host ("http://h?x") still gets its "/".
  if (authorityEnd == url.size() || url[authorityEnd] != '/') result.path.push_back('/');
  result.path.append(url, authorityEnd, std::string::npos);
  return result;
}

std::string hostHeaderValue(const Url& url) {
  if (url.port == kDefaultPort) return url.host;
  return url.host + ":" + std::to_string(url.port);
}

std::string requestHead(const Url& url, const std::string& cookieHeader,
                        std::optional<uint64_t> rangeFrom) {
  std::string head;
  head.reserve(200 + url.path.size() + url.host.size() + cookieHeader.size());
  head += "GET ";
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
  head += "\r\n";
  return head;
}

}  // namespace http
