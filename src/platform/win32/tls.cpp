// TLS through the system's Schannel package (SSPI), over the inner
// connection: the package never touches the socket; its handshake tokens and
// records travel through this class, so the inner connection may be a TCP
// socket or anything else that carries bytes. secur32.dll and crypt32.dll are
// not KnownDLLs: both are loaded from the system directory (system_library.h).
//
// The server's certificate is checked here, not inside Schannel (manual
// validation): the chain is built against the machine's and the user's stores
// with CertGetCertificateChain and checked with the SSL policy and the host's
// name. Schannel's own check is not the same on every Windows version and is
// missing in some compatible systems (wine's checks nothing), while these
// two calls are what the system's own HTTP stacks use everywhere; a failure
// is then always one of the chain policy's codes, whatever Schannel does.
#include <windows.h>
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

#include <boost/asio/error.hpp>
#include <boost/asio/ip/address.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/error.h"
#include "http/socket_system.h"
#include "http/tls.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/system_library.h"

namespace http {

namespace {

// Bytes read from the inner connection at a time: a few records.
constexpr size_t kInnerReadSize = 65536;
// Room for the handshake's messages at first (a certificate chain can be
// larger than a record); it grows up to kHandshakeLimit where a chain needs it.
constexpr size_t kInitialCapacity = kInnerReadSize + 32768;
constexpr size_t kHandshakeLimit = 1 << 20;
// How long the handshake waits for the server's next bytes, as the client
// waits for a response.
constexpr int kHandshakeSilenceMs = 60000;

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
// The versions older than TLS 1.2, never used.
constexpr DWORD kOldProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of the SSL policy (wininet.h).
constexpr DWORD kIgnoreName = 0x00001000;
// No client certificate is ever offered, and the certificate check is ours.
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;

struct StatusName {
  HRESULT code;
  const char* name;
  TlsReason reason;
};

constexpr StatusName kStatusNames[] = {
    {SEC_E_UNTRUSTED_ROOT, "SEC_E_UNTRUSTED_ROOT", TlsReason::Untrusted},
    {CERT_E_UNTRUSTEDROOT, "CERT_E_UNTRUSTEDROOT", TlsReason::Untrusted},
    {CERT_E_CHAINING, "CERT_E_CHAINING", TlsReason::Untrusted},
    {SEC_E_CERT_EXPIRED, "SEC_E_CERT_EXPIRED", TlsReason::Expired},
    {CERT_E_EXPIRED, "CERT_E_EXPIRED", TlsReason::Expired},
    {SEC_E_WRONG_PRINCIPAL, "SEC_E_WRONG_PRINCIPAL", TlsReason::WrongName},
    {CERT_E_CN_NO_MATCH, "CERT_E_CN_NO_MATCH", TlsReason::WrongName},
    {SEC_E_ILLEGAL_MESSAGE, "SEC_E_ILLEGAL_MESSAGE", TlsReason::Failed},
    {SEC_E_ALGORITHM_MISMATCH, "SEC_E_ALGORITHM_MISMATCH", TlsReason::Failed},
};

// "SEC_E_UNTRUSTED_ROOT 0x80090325"; a code the table does not name as its
// number alone.
std::string statusText(HRESULT code) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
  for (const StatusName& entry : kStatusNames) {
    if (entry.code == code) return std::string(entry.name) + " " + number;
  }
  return number;
}

TlsReason reasonOf(HRESULT code) {
  for (const StatusName& entry : kStatusNames) {
    if (entry.code == code) return entry.reason;
  }
  return TlsReason::Failed;
}

// Schannel's functions and the chain checks, and the one set of credentials
// of the process (Schannel keeps its session cache per credentials, so a new
// connection to the same server resumes the session).
struct Schannel {
  PSecurityFunctionTableW sspi = nullptr;
  decltype(&CertGetCertificateChain) getChain = nullptr;
  decltype(&CertVerifyCertificateChainPolicy) verifyChain = nullptr;
  decltype(&CertFreeCertificateChain) freeChain = nullptr;
  decltype(&CertFreeCertificateContext) freeCertificate = nullptr;
  decltype(&CertFindExtension) findExtension = nullptr;
  decltype(&CryptDecodeObjectEx) decode = nullptr;
  CredHandle credentials{};
  HRESULT failure = SEC_E_OK;  // why TLS cannot be used, where it cannot
};

// TLS 1.2 at least. The newer form of credentials (Windows 10 1809 on) names
// only the versions left out, so that TLS 1.3 is used where the system has
// it; a system that does not know that form gets the older one, which names
// TLS 1.2 alone.
HRESULT acquireCredentials(PSecurityFunctionTableW sspi, CredHandle& credentials) {
  auto* package = const_cast<wchar_t*>(UNISP_NAME_W);
  TimeStamp expiry;
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = kOldProtocols;
  SCH_CREDENTIALS current{};
  current.dwVersion = SCH_CREDENTIALS_VERSION;
  current.dwFlags = kCredentialFlags;
  current.cTlsParameters = 1;
  current.pTlsParameters = &parameters;
  if (sspi->AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &current,
                                      nullptr, nullptr, &credentials, &expiry) == SEC_E_OK)
    return SEC_E_OK;
  SCHANNEL_CRED older{};
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  older.dwFlags = kCredentialFlags;
  return sspi->AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older,
                                         nullptr, nullptr, &credentials, &expiry);
}

const Schannel& schannel() {
  static const Schannel loaded = [] {
    Schannel functions;
    const HMODULE secur32 = platform::systemLibrary(L"secur32.dll");
    const HMODULE crypt32 = platform::systemLibrary(L"crypt32.dll");
    const auto initialize = SYSTEM_FUNCTION(secur32, InitSecurityInterfaceW);
    functions.getChain = SYSTEM_FUNCTION(crypt32, CertGetCertificateChain);
    functions.verifyChain = SYSTEM_FUNCTION(crypt32, CertVerifyCertificateChainPolicy);
    functions.freeChain = SYSTEM_FUNCTION(crypt32, CertFreeCertificateChain);
    functions.freeCertificate = SYSTEM_FUNCTION(crypt32, CertFreeCertificateContext);
    functions.findExtension = SYSTEM_FUNCTION(crypt32, CertFindExtension);
    functions.decode = SYSTEM_FUNCTION(crypt32, CryptDecodeObjectEx);
    functions.sspi = initialize ? initialize() : nullptr;
    if (!functions.sspi || !functions.getChain || !functions.verifyChain || !functions.freeChain ||
        !functions.freeCertificate || !functions.findExtension || !functions.decode)
      functions.failure = SEC_E_SECPKG_NOT_FOUND;
    else
      functions.failure = acquireCredentials(functions.sspi, functions.credentials);
    return functions;
  }();
  return loaded;
}

// A token Schannel allocated, freed when it goes.
struct Token {
  SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc description{SECBUFFER_VERSION, 1, &buffer};
  ~Token() {
    if (buffer.pvBuffer != nullptr) schannel().sspi->FreeContextBuffer(buffer.pvBuffer);
  }
};

class SchannelTransport : public Transport {
 public:
  explicit SchannelTransport(Transport& inner) : inner_(inner) {}
  ~SchannelTransport() override { close(); }

  void connect(const std::string& host, uint16_t port, boost::system::error_code& error) override {
    close();
    inner_.connect(host, port, error);
    if (error) return;
    handshake(host);
  }

  bool isOpen() const override { return established_ && inner_.isOpen(); }

  void write(const char* data, size_t size, boost::system::error_code& error) override {
    if (!established_) {
      error = boost::asio::error::not_connected;
      return;
    }
    while (size > 0) {
      const size_t piece = std::min<size_t>(size, sizes_.cbMaximumMessage);
      char* record = outgoing_.get();
      std::memcpy(record + sizes_.cbHeader, data, piece);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record},
          {static_cast<ULONG>(piece), SECBUFFER_DATA, record + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes_.cbHeader + piece},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
      if (schannel().sspi->EncryptMessage(&context_, 0, &description, 0) != SEC_E_OK) {
        error = boost::asio::error::connection_reset;
        return;
      }
      inner_.write(record, buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer, error);
      if (error) return;
      data += piece;
      size -= piece;
    }
  }

  // Every decrypted byte there is, up to size; waits only when there is none.
  size_t readSome(char* data, size_t size, boost::system::error_code& error) override {
    if (!established_) {
      error = boost::asio::error::not_connected;
      return 0;
    }
    size_t total = 0;
    while (total < size) {
      if (plainSize_ > 0) {
        const size_t piece = std::min(plainSize_, size - total);
        std::memcpy(data + total, plain_, piece);
        plain_ += piece;
        plainSize_ -= piece;
        total += piece;
        continue;
      }
      const Step step = decryptNext();
      if (step == Step::Record) continue;
      if (total > 0) break;
      if (step == Step::Ended) {
        error = ended_;
        return 0;
      }
      pull();
    }
    return total;
  }

  // Readable once a whole record has been decrypted (or the stream's end or
  // failure is known): bytes of a record still arriving do not count, and
  // are taken from the inner connection while waiting.
  bool waitReadable(int timeoutMs) override {
    if (!established_) return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (plainSize_ > 0) return true;
      const Step step = decryptNext();
      if (step == Step::Record) continue;
      if (step == Step::Ended) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            until - std::chrono::steady_clock::now())
                            .count();
      if (left < 0 || !inner_.waitReadable(static_cast<int>(left))) return false;
      pull();
    }
  }

  void close() override {
    if (hasContext_) {
      if (established_ && !ended_ && inner_.isOpen()) sayGoodbye();
      schannel().sspi->DeleteSecurityContext(&context_);
      hasContext_ = false;
    }
    established_ = false;
    postHandshake_ = false;
    ended_ = {};
    plain_ = nullptr;
    plainSize_ = 0;
    rawBegin_ = rawEnd_ = 0;
    inner_.close();
  }

 private:
  enum class Step {
    Record,  // a record was decrypted: its bytes (perhaps none) are plain_
    More,    // no whole record has arrived yet
    Ended,   // the stream has ended or failed (ended_)
  };

  void handshake(const std::string& host) {
    const Schannel& functions = schannel();
    if (functions.failure != SEC_E_OK) fail(host, TlsReason::Failed, functions.failure);
    target_ = platform::wideFromAnsi(host);
    if (!buffer_) {
      buffer_.reset(new char[kInitialCapacity]);
      capacity_ = kInitialCapacity;
    }
    bool first = true;
    int credentialRequests = 0;
    for (;;) {
      boost::system::error_code error;
      const SECURITY_STATUS status = handshakeStep(first, error);
      if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) hasContext_ = true;
      first = false;
      if (error) fail(host, TlsReason::Failed, transferText(error));
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        pullHandshake(host);
        continue;
      }
      // The server asks for a client certificate: the same bytes again go on
      // without one.
      if (status == SEC_I_INCOMPLETE_CREDENTIALS && ++credentialRequests <= 2) continue;
      if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
        fail(host, reasonOf(status), status);
      if (status == SEC_E_OK) break;
      if (rawBegin_ == rawEnd_) pullHandshake(host);
    }
    // The version is checked once more: not every system that takes the
    // newer credentials also leaves out the versions they name (wine's
    // does not). An old server gets what Windows answers it.
    SecPkgContext_ConnectionInfo connection{};
    if (functions.sspi->QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO,
                                                &connection) != SEC_E_OK ||
        (connection.dwProtocol & kOldProtocols) != 0)
      fail(host, TlsReason::Failed, SEC_E_ALGORITHM_MISMATCH);
    checkCertificate(host);
    if (functions.sspi->QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) !=
        SEC_E_OK)
      fail(host, TlsReason::Failed, SEC_E_INTERNAL_ERROR);
    const size_t record = sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer;
    if (capacity_ < kInnerReadSize + record) grow(kInnerReadSize + record);
    outgoing_.reset(new char[record]);
    established_ = true;
  }

  // The chain against the system's stores, the name against the host.
  void checkCertificate(const std::string& host) {
    const Schannel& functions = schannel();
    PCCERT_CONTEXT certificate = nullptr;
    const SECURITY_STATUS found = functions.sspi->QueryContextAttributesW(
        &context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
    if (found != SEC_E_OK || certificate == nullptr)
      fail(host, TlsReason::Failed, found != SEC_E_OK ? found : SEC_E_CERT_UNKNOWN);
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    HRESULT verdict = S_OK;
    if (!functions.getChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters, 0,
                            nullptr, &chain)) {
      verdict = HRESULT_FROM_WIN32(GetLastError());
    } else {
      verdict = policyVerdict(chain, 0);
      // An address is matched with the certificate's addresses here where
      // the policy matched it with names only (wine's does); the rest of the
      // policy still holds.
      if (verdict == CERT_E_CN_NO_MATCH && namesAddress(certificate, host))
        verdict = policyVerdict(chain, kIgnoreName);
      // A chain that stops short of any root is refused here too: Windows'
      // policy does so, wine's lets it pass.
      if (verdict == S_OK && (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0)
        verdict = CERT_E_CHAINING;
      functions.freeChain(chain);
    }
    functions.freeCertificate(certificate);
    if (verdict != S_OK) fail(host, reasonOf(verdict), verdict);
  }

  // The SSL policy's verdict on the chain for the host, ignoring what
  // `ignore` names (SECURITY_FLAG_IGNORE_...).
  HRESULT policyVerdict(PCCERT_CHAIN_CONTEXT chain, DWORD ignore) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA server{};
    server.cbSize = sizeof server;
    server.dwAuthType = AUTHTYPE_SERVER;
    server.fdwChecks = ignore;
    server.pwszServerName = target_.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &server;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    return schannel().verifyChain(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)
               ? static_cast<HRESULT>(status.dwError)
               : HRESULT_FROM_WIN32(GetLastError());
  }

  // Whether host is an IP address that the certificate's subject
  // alternative names hold.
  static bool namesAddress(PCCERT_CONTEXT certificate, const std::string& host) {
    boost::system::error_code invalid;
    const boost::asio::ip::address address = boost::asio::ip::make_address(host, invalid);
    if (invalid) return false;
    std::string bytes;
    if (address.is_v4()) {
      const auto v4 = address.to_v4().to_bytes();
      bytes.assign(v4.begin(), v4.end());
    } else {
      const auto v6 = address.to_v6().to_bytes();
      bytes.assign(v6.begin(), v6.end());
    }
    const Schannel& functions = schannel();
    const CERT_INFO* info = certificate->pCertInfo;
    const PCERT_EXTENSION names =
        functions.findExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO* decoded = nullptr;
    DWORD size = 0;
    if (names == nullptr ||
        !functions.decode(X509_ASN_ENCODING, X509_ALTERNATE_NAME, names->Value.pbData,
                          names->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size))
      return false;
    bool found = false;
    for (DWORD i = 0; i < decoded->cAltEntry && !found; ++i) {
      const CERT_ALT_NAME_ENTRY& entry = decoded->rgAltEntry[i];
      found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
              entry.IPAddress.cbData == bytes.size() &&
              std::memcmp(entry.IPAddress.pbData, bytes.data(), bytes.size()) == 0;
    }
    LocalFree(decoded);
    return found;
  }

  // Decrypts the next record of the received bytes in place.
  Step decryptNext() {
    if (ended_) return Step::Ended;
    if (rawBegin_ == rawEnd_) return Step::More;
    if (postHandshake_) return takeHandshakeMessage();
    SecBuffer buffers[4] = {
        {static_cast<ULONG>(rawEnd_ - rawBegin_), SECBUFFER_DATA, buffer_.get() + rawBegin_},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status =
        schannel().sspi->DecryptMessage(&context_, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return Step::More;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      ended_ = boost::asio::error::connection_reset;
      return Step::Ended;
    }
    size_t next = rawEnd_;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA) {
        plain_ = static_cast<char*>(buffer.pvBuffer);
        plainSize_ = buffer.cbBuffer;
      } else if (buffer.BufferType == SECBUFFER_EXTRA) {
        next = rawEnd_ - buffer.cbBuffer;
      }
    }
    rawBegin_ = next;
    if (status == SEC_I_CONTEXT_EXPIRED) {
      // The server's close_notify: the end of the stream.
      ended_ = boost::asio::error::eof;
    } else if (status == SEC_I_RENEGOTIATE) {
      // A handshake message after the handshake. With TLS 1.3 it follows in
      // the received bytes (a session ticket, a key update) and is handed to
      // the handshake function; a request for a whole new handshake (no bytes
      // follow) ends the stream, as this client never renegotiates.
      if (rawBegin_ == rawEnd_) ended_ = boost::asio::error::eof;
      postHandshake_ = true;
    }
    return Step::Record;
  }

  // One step of the handshake over the received bytes not yet taken: the
  // token it makes is sent, and the bytes it took are passed over (all but
  // what SECBUFFER_EXTRA leaves), unless it needs more of them or the same
  // ones again.
  SECURITY_STATUS handshakeStep(bool first, boost::system::error_code& error) {
    const Schannel& functions = schannel();
    SecBuffer input[2] = {
        {static_cast<ULONG>(rawEnd_ - rawBegin_), SECBUFFER_TOKEN, buffer_.get() + rawBegin_},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDescription{SECBUFFER_VERSION, 2, input};
    Token output;
    ULONG attributes = 0;
    const SECURITY_STATUS status = functions.sspi->InitializeSecurityContextW(
        const_cast<CredHandle*>(&functions.credentials), first ? nullptr : &context_,
        target_.data(), kContextFlags, 0, 0, first ? nullptr : &inputDescription, 0, &context_,
        &output.description, &attributes, nullptr);
    if (output.buffer.cbBuffer > 0 && output.buffer.pvBuffer != nullptr)
      inner_.write(static_cast<const char*>(output.buffer.pvBuffer), output.buffer.cbBuffer, error);
    if (status != SEC_E_INCOMPLETE_MESSAGE && status != SEC_I_INCOMPLETE_CREDENTIALS)
      rawBegin_ = input[1].BufferType == SECBUFFER_EXTRA ? rawEnd_ - input[1].cbBuffer : rawEnd_;
    return status;
  }

  Step takeHandshakeMessage() {
    boost::system::error_code error;
    const SECURITY_STATUS status = handshakeStep(false, error);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return Step::More;
    if (error) ended_ = error;
    postHandshake_ = false;
    if (status == SEC_I_CONTINUE_NEEDED)
      ended_ = boost::asio::error::eof;
    else if (status != SEC_E_OK)
      ended_ = boost::asio::error::connection_reset;
    plainSize_ = 0;
    return ended_ ? Step::Ended : Step::Record;
  }

  // Reads what the inner connection has after the bytes still encrypted,
  // waiting for it when nothing is there; the decrypted bytes are all taken.
  void pull() {
    if (rawBegin_ == rawEnd_) {
      rawBegin_ = rawEnd_ = 0;
    } else if (capacity_ - rawEnd_ < kInnerReadSize) {
      // The start of a record moves to the front: less than a record.
      std::memmove(buffer_.get(), buffer_.get() + rawBegin_, rawEnd_ - rawBegin_);
      rawEnd_ -= rawBegin_;
      rawBegin_ = 0;
    }
    if (rawEnd_ == capacity_) {
      ended_ = boost::asio::error::connection_reset;  // larger than any record
      return;
    }
    boost::system::error_code error;
    const size_t got = inner_.readSome(buffer_.get() + rawEnd_, capacity_ - rawEnd_, error);
    if (error || got == 0) {
      ended_ = error ? error : boost::asio::error::eof;
      return;
    }
    rawEnd_ += got;
  }

  // Reads the server's next handshake bytes after those kept.
  void pullHandshake(const std::string& host) {
    if (rawBegin_ > 0) {
      std::memmove(buffer_.get(), buffer_.get() + rawBegin_, rawEnd_ - rawBegin_);
      rawEnd_ -= rawBegin_;
      rawBegin_ = 0;
    }
    if (rawEnd_ == capacity_) {
      if (capacity_ >= kHandshakeLimit) fail(host, TlsReason::Failed, SEC_E_ILLEGAL_MESSAGE);
      grow(capacity_ * 2);
    }
    if (!inner_.waitReadable(kHandshakeSilenceMs))
      fail(host, TlsReason::Failed, "Socket Error # 10060");
    boost::system::error_code error;
    const size_t got = inner_.readSome(buffer_.get() + rawEnd_, capacity_ - rawEnd_, error);
    if (error || got == 0) fail(host, TlsReason::Failed, transferText(error));
    rawEnd_ += got;
  }

  void grow(size_t capacity) {
    std::unique_ptr<char[]> larger(new char[capacity]);
    std::memcpy(larger.get(), buffer_.get() + rawBegin_, rawEnd_ - rawBegin_);
    rawEnd_ -= rawBegin_;
    rawBegin_ = 0;
    buffer_ = std::move(larger);
    capacity_ = capacity;
  }

  // A close_notify to the server: one small write.
  void sayGoodbye() {
    const Schannel& functions = schannel();
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, &control};
    if (functions.sspi->ApplyControlToken(&context_, &controlDescription) != SEC_E_OK) return;
    Token output;
    ULONG attributes = 0;
    if (FAILED(functions.sspi->InitializeSecurityContextW(
            const_cast<CredHandle*>(&functions.credentials), &context_, target_.data(),
            kContextFlags, 0, 0, nullptr, 0, &context_, &output.description, &attributes, nullptr)))
      return;
    if (output.buffer.cbBuffer > 0 && output.buffer.pvBuffer != nullptr) {
      boost::system::error_code ignored;
      inner_.write(static_cast<const char*>(output.buffer.pvBuffer), output.buffer.cbBuffer,
                   ignored);
    }
  }

  static std::string transferText(const boost::system::error_code& error) {
    if (!error || error == boost::asio::error::eof) return "the connection was closed";
    return "Socket Error # " + std::to_string(socketErrorCode(error));
  }

  [[noreturn]] void fail(const std::string& host, TlsReason reason, HRESULT code) {
    fail(host, reason, statusText(code));
  }
  [[noreturn]] void fail(const std::string& host, TlsReason reason, const std::string& code) {
    close();
    throw base::Error(tlsErrorMessage(host, reason, code));
  }

  Transport& inner_;
  CtxtHandle context_{};
  bool hasContext_ = false;
  bool established_ = false;         // the handshake is done and the server checked
  bool postHandshake_ = false;       // a handshake message is next in the received bytes
  boost::system::error_code ended_;  // the end or failure of the stream, once known
  std::wstring target_;
  SecPkgContext_StreamSizes sizes_{};
  // Received bytes: decrypted ones [plain_, plain_ + plainSize_) not yet
  // read, then encrypted ones [rawBegin_, rawEnd_).
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  char* plain_ = nullptr;
  size_t plainSize_ = 0;
  size_t rawBegin_ = 0;
  size_t rawEnd_ = 0;
  std::unique_ptr<char[]> outgoing_;  // one record being encrypted
};

}  // namespace

std::unique_ptr<Transport> makeTlsTransport(Transport& inner) {
  return std::make_unique<SchannelTransport>(inner);
}

}  // namespace http
