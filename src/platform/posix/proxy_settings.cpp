// The system's proxy on Linux: the environment, as curl and most programs
// read it. No challenge-response logon: a proxy that asks for one gets no
// answer, and its 407 is the failure.
#include <cstdlib>

#include "http/proxy.h"

namespace http {

Route systemRoute(const Url& url) {
  return environmentRoute(url, [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  });
}

std::unique_ptr<ProxyLogon> systemProxyLogon(const std::string&, const std::string&) {
  return nullptr;
}

}  // namespace http
