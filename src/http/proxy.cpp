#include "http/proxy.h"

#include "base/base64.h"
#include "base/text.h"

namespace http {

namespace {

constexpr uint16_t kEnvironmentDefaultPort = 1080;
constexpr uint16_t kWindowsDefaultPort = 80;

bool isSeparator(char c) {
  return c == ';' || c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The entries of a list separated by any of ";", ",", blanks.
std::vector<std::string_view> entriesOf(std::string_view list) {
  std::vector<std::string_view> entries;
  size_t at = 0;
  while (at < list.size()) {
    while (at < list.size() && isSeparator(list[at])) ++at;
    size_t end = at;
    while (end < list.size() && !isSeparator(list[end])) ++end;
    if (end > at) entries.push_back(list.substr(at, end - at));
    at = end;
  }
  return entries;
}

// Splits "host[:port]" (an IPv6 literal in brackets); the port is empty
// when there is none.
std::pair<std::string_view, std::string_view> splitPort(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || text.find(']', colon) != std::string_view::npos ||
      (text.front() != '[' && text.find(':') != colon))
    return {text, {}};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

std::string percentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = base::hexDigitValue(text[i + 1]);
      const int low = base::hexDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// Whether text matches the pattern, where "*" stands for any run of
// characters; without regard to ASCII case.
bool globMatches(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && base::lowerAscii(pattern[p]) == base::lowerAscii(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::optional<uint32_t> ipv4Of(std::string_view text) {
  uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t end = part == 3 ? text.size() : text.find('.');
    if (end == std::string_view::npos) return std::nullopt;
    const std::optional<int64_t> value = base::decimalValue(text.substr(0, end), 3);
    if (!value || *value > 255) return std::nullopt;
    address = address << 8 | static_cast<uint32_t>(*value);
    text.remove_prefix(part == 3 ? end : end + 1);
  }
  return address;
}

enum class BypassStyle { Windows, Environment };

// Whether one entry of a bypass list covers the URL.
bool bypasses(std::string_view entry, const Url& url, BypassStyle style) {
  if (entry == "*") return true;
  const std::string host = base::lowerAscii(url.host);
  if (style == BypassStyle::Windows && base::equalsIgnoringAsciiCase(entry, "<local>"))
    return host.find('.') == std::string::npos && host.find(':') == std::string::npos;
  if (const size_t scheme = entry.find("://"); scheme != std::string_view::npos) {
    if (!base::equalsIgnoringAsciiCase(entry.substr(0, scheme), url.https ? "https" : "http"))
      return false;
    entry.remove_prefix(scheme + 3);
  }
  auto [pattern, portText] = splitPort(entry);
  if (!portText.empty() && portNumber(portText) != url.port) return false;
  if (pattern.empty()) return false;
  if (style == BypassStyle::Windows) return globMatches(pattern, host);
  // An IPv4 range: the address's leading bits.
  if (const size_t slash = pattern.find('/'); slash != std::string_view::npos) {
    const auto network = ipv4Of(pattern.substr(0, slash));
    const auto address = ipv4Of(host);
    const auto bits = base::decimalValue(pattern.substr(slash + 1), 2);
    if (!network || !address || !bits || *bits > 32) return false;
    const uint32_t mask = *bits == 0 ? 0 : ~uint32_t{0} << (32 - *bits);
    return (*network & mask) == (*address & mask);
  }
  if (pattern.front() == '.') pattern.remove_prefix(1);
  const std::string name = base::lowerAscii(pattern);
  return host == name || (host.size() > name.size() && host[host.size() - name.size() - 1] == '.' &&
                          host.compare(host.size() - name.size(), name.size(), name) == 0);
}

bool inBypassList(std::string_view list, const Url& url, BypassStyle style) {
  for (std::string_view entry : entriesOf(list))
    if (bypasses(entry, url, style)) return true;
  return false;
}

const Route kDirect{std::nullopt};

}  // namespace

std::string basicAuthorization(const ProxyServer& proxy) {
  if (proxy.user.empty() && proxy.password.empty()) return {};
  return "Basic " + base::encodeBase64(proxy.user + ":" + proxy.password);
}

std::string proxyName(const ProxyServer& proxy) {
  return proxy.host + ":" + std::to_string(proxy.port);
}

std::optional<ProxyServer> parseProxyAddress(std::string_view text, uint16_t defaultPort) {
  if (const size_t scheme = text.find("://"); scheme != std::string_view::npos) {
    if (!base::equalsIgnoringAsciiCase(text.substr(0, scheme), "http")) return std::nullopt;
    text.remove_prefix(scheme + 3);
  }
  text = text.substr(0, text.find('/'));
  ProxyServer proxy;
  if (const size_t at = text.rfind('@'); at != std::string_view::npos) {
    const std::string_view credentials = text.substr(0, at);
    const size_t colon = credentials.find(':');
    proxy.user = percentDecoded(credentials.substr(0, colon));
    if (colon != std::string_view::npos)
      proxy.password = percentDecoded(credentials.substr(colon + 1));
    text.remove_prefix(at + 1);
  }
  auto [host, port] = splitPort(text);
  if (host.empty()) return std::nullopt;
  proxy.host = host;
  proxy.port = defaultPort;
  if (!port.empty()) {
    const auto number = portNumber(port);
    if (!number) return std::nullopt;
    proxy.port = *number;
  }
  return proxy;
}

Route parseProxyList(std::string_view list) {
  Route route;
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find(';', at);
    if (end == std::string_view::npos) end = list.size();
    const std::vector<std::string_view> words = entriesOf(list.substr(at, end - at));
    if (words.size() == 1 && base::equalsIgnoringAsciiCase(words[0], "DIRECT")) {
      route.push_back(std::nullopt);
    } else if (words.size() == 2 && (base::equalsIgnoringAsciiCase(words[0], "PROXY") ||
                                     base::equalsIgnoringAsciiCase(words[0], "HTTP"))) {
      if (auto proxy = parseProxyAddress(words[1], kWindowsDefaultPort))
        route.push_back(std::move(proxy));
    }
    at = end + 1;
  }
  return route.empty() ? kDirect : route;
}

Route fixedProxyRoute(std::string_view proxies, std::string_view bypass, const Url& url) {
  if (inBypassList(bypass, url, BypassStyle::Windows)) return kDirect;
  Route forScheme, forAll;
  for (std::string_view entry : entriesOf(proxies)) {
    const size_t equals = entry.find('=');
    Route* into = &forAll;
    if (equals != std::string_view::npos) {
      if (!base::equalsIgnoringAsciiCase(entry.substr(0, equals), url.https ? "https" : "http"))
        continue;
      into = &forScheme;
      entry.remove_prefix(equals + 1);
    }
    if (base::equalsIgnoringAsciiCase(entry, "DIRECT")) {
      into->push_back(std::nullopt);
      continue;
    }
    if (auto proxy = parseProxyAddress(entry, kWindowsDefaultPort))
      into->push_back(std::move(proxy));
  }
  if (!forScheme.empty()) return forScheme;
  return forAll.empty() ? kDirect : forAll;
}

Route environmentRoute(const Url& url, const Variable& variable) {
  std::optional<std::string> address = variable(url.https ? "https_proxy" : "http_proxy");
  if (url.https && (!address || address->empty())) address = variable("HTTPS_PROXY");
  if (!address || address->empty()) return kDirect;
  std::optional<std::string> bypass = variable("no_proxy");
  if (!bypass || bypass->empty()) bypass = variable("NO_PROXY");
  if (bypass && inBypassList(*bypass, url, BypassStyle::Environment)) return kDirect;
  auto proxy = parseProxyAddress(*address, kEnvironmentDefaultPort);
  return proxy ? Route{std::move(proxy)} : kDirect;
}

}  // namespace http
