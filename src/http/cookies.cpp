#include "http/cookies.h"

#include "base/text.h"

#include <string_view>

namespace http {

namespace {

constexpr size_t kMaxCookies = 50;
constexpr size_t kMaxCookieBytes = 4096;

}  // namespace

void CookieStore::store(const std::string& setCookie, const std::string& requestHost) {
  std::string_view rest(setCookie);
  Cookie cookie;
  std::string domain;
  bool first = true;
  while (true) {
    size_t semicolon = rest.find(';');
    std::string_view part = base::trim(rest.substr(0, semicolon));
    size_t equals = part.find('=');
    std::string_view name = base::trim(part.substr(0, equals));
    std::string_view value =
        equals == std::string_view::npos ? "" : base::trim(part.substr(equals + 1));
    if (first) {
      if (name.empty() || equals == std::string_view::npos) return;
      cookie.name = name;
      cookie.value = value;
      first = false;
    } else {
      std::string attribute = base::lowerAscii(name);
      if (attribute == "path") {
        cookie.path = value;
        cookie.hasPath = true;
      } else if (attribute == "domain" && !value.empty()) {
        domain = base::lowerAscii(value);
      }
    }
    if (semicolon == std::string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  cookie.host = base::lowerAscii(requestHost);
  // A cookie for a domain the host is not in is refused.
  if (!domain.empty()) {
    if (domain.front() == '.') domain.erase(0, 1);
    const bool within =
        cookie.host == domain || (cookie.host.size() > domain.size() &&
                                  cookie.host.compare(cookie.host.size() - domain.size() - 1,
                                                      std::string::npos, "." + domain) == 0);
    if (!within) return;
  }
  if (cookie.name.size() + cookie.value.size() > kMaxCookieBytes) return;

  for (Cookie& old : cookies_) {
    if (old.name == cookie.name && old.host == cookie.host && old.path == cookie.path &&
        old.hasPath == cookie.hasPath) {
      old.value = cookie.value;
      return;
    }
  }
  if (cookies_.size() < kMaxCookies) cookies_.push_back(std::move(cookie));
}

std::string CookieStore::header(const std::string& host, const std::string& path) const {
  std::string lowerHost = base::lowerAscii(host);
  std::string result;
  for (const Cookie& cookie : cookies_) {
    if (!cookie.hasPath) continue;
    if (lowerHost != cookie.host) continue;
    if (path.compare(0, cookie.path.size(), cookie.path) != 0) continue;
    if (!result.empty()) result += "; ";
    result += cookie.name;
    result += '=';
    result += cookie.value;
  }
  return result;
}

}  // namespace http
