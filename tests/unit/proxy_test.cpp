// Which proxy a request goes through: the system's fixed setting and its
// bypass list, a proxy script's answer, and the environment as curl reads it.
#include <gtest/gtest.h>

#include <map>

#include "http/proxy.h"

namespace {

// The route as text: "a:1 b:2 DIRECT", credentials as "user:password@".
std::string Shown(const http::Route& route) {
  std::string out;
  for (const auto& way : route) {
    if (!out.empty()) out += ' ';
    if (!way) {
      out += "DIRECT";
      continue;
    }
    if (!way->user.empty() || !way->password.empty()) out += way->user + ":" + way->password + "@";
    out += http::proxyName(*way);
  }
  return out;
}

TEST(Proxy, ScriptAnswersAndAddresses) {
  const std::pair<const char*, const char*> lists[] = {
      {"PROXY a:1; PROXY b:2; DIRECT", "a:1 b:2 DIRECT"},
      {" proxy [::1]:3128 ;SOCKS s:1080; http c", "[::1]:3128 c:80"},
      {"SOCKS5 s:1", "DIRECT"},
      {"", "DIRECT"},
      {"PROXY bad:99999; PROXY http://u%40x:p%3Aw@d:8/", "u@x:p:w@d:8"},
  };
  for (auto [list, route] : lists) EXPECT_EQ(Shown(http::parseProxyList(list)), route) << list;
  EXPECT_EQ(http::parseProxyAddress("https://a:1", 80), std::nullopt);
  EXPECT_EQ(http::parseProxyAddress("user@", 80), std::nullopt);
}

TEST(Proxy, FixedSettingPerSchemeAndItsBypassList) {
  struct Case {
    const char* proxies;
    const char* bypass;
    const char* url;
    const char* route;
  } cases[] = {
      {"p:8080", "", "http://h/x", "p:8080"},
      {"p:8080", "", "https://h/x", "p:8080"},
      {"http=a:80;https=b:8443", "", "https://h/", "b:8443"},
      {"http=a:80;https=b:8443", "", "http://h/", "a:80"},
      {"http=a:80", "", "https://h/", "DIRECT"},
      {"http=a:80 all:3", "", "https://h/", "all:3"},
      {"p", "<local>", "http://intranet/", "DIRECT"},
      {"p", "<local>", "http://update.example/", "p:80"},
      {"p", "*.example.com;10.*", "http://CDN.Example.com/", "DIRECT"},
      {"p", "*.example.com;10.*", "http://example.com/", "p:80"},
      {"p", "*.example.com;10.*", "http://10.1.2.3:81/", "DIRECT"},
      {"p", "https://*.example.com", "http://a.example.com/", "p:80"},
      {"p", "h:8080", "http://h:8080/", "DIRECT"},
      {"p", "h:8080", "http://h/", "p:80"},
      {"a:1;DIRECT b:2", "", "http://h/", "a:1 DIRECT b:2"},
      {"https=DIRECT;http=a:1", "", "https://h/", "DIRECT"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Shown(http::fixedProxyRoute(c.proxies, c.bypass, http::parseUrl(c.url))), c.route)
        << c.proxies << " | " << c.bypass << " | " << c.url;
}

TEST(Proxy, EnvironmentAsCurlReadsIt) {
  struct Case {
    std::map<std::string, std::string> variables;
    const char* url;
    const char* route;
  } cases[] = {
      {{{"http_proxy", "http://p:3128"}}, "http://h/", "p:3128"},
      {{{"HTTP_PROXY", "p:3128"}}, "http://h/", "DIRECT"},
      {{{"http_proxy", "p:3128"}}, "https://h/", "DIRECT"},
      {{{"HTTPS_PROXY", "u:pw@p"}}, "https://h/", "u:pw@p:1080"},
      {{{"https_proxy", "a:1"}, {"HTTPS_PROXY", "b:2"}}, "https://h/", "a:1"},
      {{{"http_proxy", "p:1"}, {"no_proxy", "example.com"}}, "http://cdn.example.com/", "DIRECT"},
      {{{"http_proxy", "p:1"}, {"no_proxy", ".example.com"}}, "http://example.com/", "DIRECT"},
      {{{"http_proxy", "p:1"}, {"no_proxy", "example.com"}}, "http://badexample.com/", "p:1"},
      {{{"http_proxy", "p:1"}, {"NO_PROXY", "*"}}, "http://h/", "DIRECT"},
      {{{"http_proxy", "p:1"}, {"no_proxy", "10.0.0.0/8, 127.0.0.1"}},
       "http://10.9.8.7/",
       "DIRECT"},
      {{{"http_proxy", "p:1"}, {"no_proxy", "10.0.0.0/8"}}, "http://11.0.0.1/", "p:1"},
      {{{"http_proxy", "p:1"}, {"no_proxy", "0.0.0.0/0"}}, "http://11.0.0.1/", "DIRECT"},
      {{{"http_proxy", "p:1"}, {"no_proxy", "h:8080"}}, "http://h:8080/", "DIRECT"},
      {{{"http_proxy", "p:1"}, {"no_proxy", "h:8080"}}, "http://h/", "p:1"},
      {{{"http_proxy", "socks5://s:1"}}, "http://h/", "DIRECT"},
  };
  for (const Case& c : cases) {
    const auto route = http::environmentRoute(http::parseUrl(c.url),
                                              [&](const char* name) -> std::optional<std::string> {
                                                auto found = c.variables.find(name);
                                                if (found == c.variables.end()) return std::nullopt;
                                                return found->second;
                                              });
    EXPECT_EQ(Shown(route), c.route) << c.url << " " << c.variables.begin()->first;
  }
}

}  // namespace
