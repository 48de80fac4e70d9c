#include "http/cookies.h"

#include <string_view>

namespace http {

namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string lowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

}  // namespace

void CookieStore::store(const std::string& setCookie, const std::string& requestHost) {
  std::string_view rest(setCookie);
  Cookie cookie;
  bool first = true;
  while (true) {
    size_t semicolon = rest.find(';');
    std::string_view part = trim(rest.substr(0, semicolon));
    size_t equals = part.find('=');
    std::string_view name = trim(part.substr(0, equals));
    std::string_view value = equals == std::string_view::npos ? "" : trim(part.substr(equals + 1));
    if (first) {
      if (name.empty() || equals == std::string_view::npos) return;
      cookie.name = name;
      cookie.value = value;
      first = false;
    } else {
      std::string attribute = lowerCase(name);
      if (attribute == "path") {
        cookie.path = value;
        cookie.hasPath = true;
      } else if (attribute == "domain" && !value.empty()) {
        cookie.domain = lowerCase(value);
      }
    }
    if (semicolon == std::string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  if (cookie.domain.empty()) cookie.domain = lowerCase(requestHost);

  for (Cookie& old : cookies_) {
    if (old.name == cookie.name && old.domain == cookie.domain && old.path == cookie.path &&
        old.hasPath == cookie.hasPath) {
      old.value = cookie.value;
      return;
    }
  }
  cookies_.push_back(std::move(cookie));
}

std::string CookieStore::header(const std::string& host, const std::string& path) const {
  std::string lowerHost = lowerCase(host);
  std::string result;
  for (const Cookie& cookie : cookies_) {
    if (!cookie.hasPath) continue;
    if (lowerHost.find(cookie.domain) == std::string::npos) continue;
    if (path.compare(0, cookie.path.size(), cookie.path) != 0) continue;
    if (!result.empty()) result += "; ";
    result += cookie.name;
    result += '=';
    result += cookie.value;
  }
  return result;
}

}  // namespace http
