// The system's proxy on Windows, read as the system's own HTTP stack reads
// it: the user's settings (Internet Options), where automatic detection
// (WPAD) and a proxy script (PAC) are run by WinHTTP for the request's URL,
// then the user's fixed proxy; where those name no proxy, the machine's
// WinHTTP setting (netsh winhttp set proxy). A proxy that asks who the user
// is with Negotiate or NTLM is answered through SSPI with the logged-on
// user's own credentials.
//
// winhttp.dll and secur32.dll are not KnownDLLs: both are loaded from the
// system directory (system_library.h).
#include <windows.h>
#include <winhttp.h>
#define SECURITY_WIN32
#include <security.h>

#include <string>
#include <vector>

#include "base/base64.h"
#include "http/proxy.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/system_library.h"

namespace http {

namespace {

// How long the system may take to find and fetch a proxy script, for each
// step (name resolution, connection, request, answer): a network without
// WPAD must not hold the update for long.
constexpr int kScriptTimeoutMs = 10000;

// A string WinHTTP allocated for its caller, as text; freed at once.
std::string taken(wchar_t*& text) {
  if (text == nullptr) return {};
  std::string result = platform::ansiFromWide(text);
  GlobalFree(text);
  text = nullptr;
  return result;
}

struct WinHttp {
  decltype(&WinHttpGetIEProxyConfigForCurrentUser) userSetting = nullptr;
  decltype(&WinHttpGetDefaultProxyConfiguration) machineSetting = nullptr;
  decltype(&WinHttpOpen) open = nullptr;
  decltype(&WinHttpSetTimeouts) setTimeouts = nullptr;
  decltype(&WinHttpGetProxyForUrl) proxyForUrl = nullptr;
  // One session for every script question of the run: WinHTTP keeps the
  // script it fetched, and what detection found, per session.
  HINTERNET session = nullptr;
};

WinHttp& winHttp() {
  static WinHttp loaded = [] {
    WinHttp functions;
    const HMODULE library = platform::systemLibrary(L"winhttp.dll");
    functions.userSetting = SYSTEM_FUNCTION(library, WinHttpGetIEProxyConfigForCurrentUser);
    functions.machineSetting = SYSTEM_FUNCTION(library, WinHttpGetDefaultProxyConfiguration);
    functions.open = SYSTEM_FUNCTION(library, WinHttpOpen);
    functions.setTimeouts = SYSTEM_FUNCTION(library, WinHttpSetTimeouts);
    functions.proxyForUrl = SYSTEM_FUNCTION(library, WinHttpGetProxyForUrl);
    return functions;
  }();
  return loaded;
}

// The route a proxy script gives the URL (found by detection, or at the
// script's URL); nullopt when there is no script or it cannot be run, so
// that the fixed setting is next.
std::optional<Route> scriptRoute(WinHttp& system, const Url& url, const std::wstring& scriptUrl) {
  if (system.open == nullptr || system.proxyForUrl == nullptr) return std::nullopt;
  if (system.session == nullptr) {
    system.session = system.open(L"Updater", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
    if (system.session == nullptr) return std::nullopt;
    if (system.setTimeouts != nullptr)
      system.setTimeouts(system.session, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs,
                         kScriptTimeoutMs);
  }
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (scriptUrl.empty()) {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl.c_str();
  }
  // A script on a server that asks who the user is gets the user's logon.
  options.fAutoLogonIfChallenged = TRUE;
  const std::wstring target = platform::wideFromAnsi(originOf(url) + url.path);
  WINHTTP_PROXY_INFO answer{};
  if (!system.proxyForUrl(system.session, target.c_str(), &options, &answer)) return std::nullopt;
  const std::string proxies = taken(answer.lpszProxy);
  const std::string bypass = taken(answer.lpszProxyBypass);
  if (answer.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return Route{std::nullopt};
  // WinHTTP's list: "a:1;b:2", entries perhaps "DIRECT" or "scheme=host:port".
  return fixedProxyRoute(proxies, bypass, url);
}

}  // namespace

Route systemRoute(const Url& url) {
  WinHttp& system = winHttp();
  if (system.userSetting != nullptr) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (system.userSetting(&user)) {
      const std::wstring scriptUrl = user.lpszAutoConfigUrl ? user.lpszAutoConfigUrl : L"";
      const std::string proxies = taken(user.lpszProxy);
      const std::string bypass = taken(user.lpszProxyBypass);
      taken(user.lpszAutoConfigUrl);
      std::optional<Route> automatic;
      if (user.fAutoDetect) automatic = scriptRoute(system, url, L"");
      if (!automatic && !scriptUrl.empty()) automatic = scriptRoute(system, url, scriptUrl);
      if (automatic) return *automatic;
      if (!proxies.empty()) return fixedProxyRoute(proxies, bypass, url);
    }
  }
  if (system.machineSetting != nullptr) {
    WINHTTP_PROXY_INFO machine{};
    if (system.machineSetting(&machine)) {
      const std::string proxies = taken(machine.lpszProxy);
      const std::string bypass = taken(machine.lpszProxyBypass);
      if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxies.empty())
        return fixedProxyRoute(proxies, bypass, url);
    }
  }
  return Route{std::nullopt};
}

namespace {

// The security packages' functions (secur32.dll), loaded once.
PSecurityFunctionTableW securityFunctions() {
  static const PSecurityFunctionTableW table = [] {
    const auto initialize =
        SYSTEM_FUNCTION(platform::systemLibrary(L"secur32.dll"), InitSecurityInterfaceW);
    return initialize ? initialize() : nullptr;
  }();
  return table;
}

// One exchange of the package with the proxy, from the first token to the
// last: the credentials are the logged-on user's (none given), the target
// the proxy's service name, as Kerberos needs it under Negotiate.
class SspiLogon : public ProxyLogon {
 public:
  SspiLogon(PSecurityFunctionTableW sspi, CredHandle credentials, std::wstring target)
      : sspi_(sspi), credentials_(credentials), target_(std::move(target)) {}
  ~SspiLogon() override {
    if (started_) sspi_->DeleteSecurityContext(&context_);
    sspi_->FreeCredentialsHandle(&credentials_);
  }

  std::optional<std::string> answer(std::string_view challenge) override {
    // The first token goes ahead of any challenge; each later one answers
    // the proxy's. A challenge out of turn, or a token after the last, ends it.
    if (finished_ || challenge.empty() == started_) return std::nullopt;
    std::string input;
    if (!challenge.empty()) {
      std::optional<std::string> decoded = base::decodeBase64(challenge);
      if (!decoded) return std::nullopt;
      input = std::move(*decoded);
    }
    SecBuffer inBuffer{static_cast<ULONG>(input.size()), SECBUFFER_TOKEN, input.data()};
    SecBufferDesc inDescription{SECBUFFER_VERSION, 1, &inBuffer};
    SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &outBuffer};
    ULONG attributes = 0;
    TimeStamp expiry;
    SECURITY_STATUS status = sspi_->InitializeSecurityContextW(
        &credentials_, started_ ? &context_ : nullptr, target_.data(),
        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION, 0, SECURITY_NATIVE_DREP,
        started_ ? &inDescription : nullptr, 0, &context_, &outDescription, &attributes, &expiry);
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_I_COMPLETE_NEEDED ||
        status == SEC_I_COMPLETE_AND_CONTINUE)
      started_ = true;
    if ((status == SEC_I_COMPLETE_NEEDED || status == SEC_I_COMPLETE_AND_CONTINUE) &&
        sspi_->CompleteAuthToken != nullptr)
      sspi_->CompleteAuthToken(&context_, &outDescription);
    std::string token;
    if (outBuffer.pvBuffer != nullptr) {
      token.assign(static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer);
      sspi_->FreeContextBuffer(outBuffer.pvBuffer);
    }
    if (!started_ || token.empty()) return std::nullopt;
    finished_ = status == SEC_E_OK || status == SEC_I_COMPLETE_NEEDED;
    return base::encodeBase64(token);
  }

 private:
  PSecurityFunctionTableW sspi_;
  CredHandle credentials_;
  CtxtHandle context_{};
  std::wstring target_;
  bool started_ = false;   // the context exists
  bool finished_ = false;  // its last token went out
};

}  // namespace

std::unique_ptr<ProxyLogon> systemProxyLogon(const std::string& scheme,
                                             const std::string& proxyHost) {
  const PSecurityFunctionTableW sspi = securityFunctions();
  if (sspi == nullptr) return nullptr;
  std::wstring package = platform::wideFromAnsi(scheme);
  CredHandle credentials;
  TimeStamp expiry;
  if (sspi->AcquireCredentialsHandleW(nullptr, package.data(), SECPKG_CRED_OUTBOUND, nullptr,
                                      nullptr, nullptr, nullptr, &credentials, &expiry) != SEC_E_OK)
    return nullptr;
  return std::make_unique<SspiLogon>(sspi, credentials,
                                     platform::wideFromAnsi("HTTP/" + proxyHost));
}

}  // namespace http
