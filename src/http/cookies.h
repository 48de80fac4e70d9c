// The in-memory cookie store of one HTTP client: filled from Set-Cookie
// headers, consulted for the Cookie header of every request, never saved.
//
// The rules are deliberately small:
// - a cookie is identified by name, host and path; a new one with the same
//   three replaces the old value, otherwise cookies keep the order they came in;
// - a cookie belongs to the host of the request that set it: a request to
//   another host (the one a redirect leads to, say) never carries it, even
//   one in the cookie's Domain; a Domain the host is not in refuses it;
// - a cookie applies to a request to its host (compared without regard to
//   case) when its path is a prefix of the request's path;
// - a cookie set without a Path attribute is kept but never sent back;
// - expiry, Max-Age, Secure and the other attributes are not evaluated;
// - the store keeps at most 50 cookies of at most 4 KiB each (name and
//   value): a larger one, or a new one once the store is full, is dropped,
//   so that a server cannot make the client's requests grow without end.
#pragma once

#include <string>
#include <vector>

namespace http {

class CookieStore {
 public:
  // One Set-Cookie header value, received in answer to a request to requestHost.
  void store(const std::string& setCookie, const std::string& requestHost);

  // The value of the Cookie header for a request ("a=1; b=2"); empty when no cookie applies.
  std::string header(const std::string& host, const std::string& path) const;

 private:
  struct Cookie {
    std::string name;
    std::string value;
    std::string host;  // lower case
    std::string path;
    bool hasPath = false;
  };
  std::vector<Cookie> cookies_;
};

}  // namespace http
