// TLS through OpenSSL, over the inner connection through memory buffers: the
// library never touches the socket, so the inner connection may be a TCP
// socket or anything else that carries bytes. Trust is what OpenSSL finds as
// the system's store (SSL_CERT_FILE and SSL_CERT_DIR included).
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <boost/asio/error.hpp>
#include <chrono>
#include <memory>
#include <string>

#include "base/error.h"
#include "http/tls.h"

namespace http {

namespace {

// Bytes read from the inner connection at a time: a few records.
constexpr size_t kInnerReadSize = 65536;
constexpr int kHandshakeSilenceMs = 60000;

struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

// One context per process: the store is loaded once.
SSL_CTX* clientContext() {
  static std::unique_ptr<SSL_CTX, SslDeleter> context = [] {
    std::unique_ptr<SSL_CTX, SslDeleter> made(SSL_CTX_new(TLS_client_method()));
    if (made) {
      SSL_CTX_set_min_proto_version(made.get(), TLS1_2_VERSION);
      SSL_CTX_set_default_verify_paths(made.get());
      SSL_CTX_set_verify(made.get(), SSL_VERIFY_PEER, nullptr);
      SSL_CTX_set_mode(made.get(), SSL_MODE_AUTO_RETRY);
    }
    return made;
  }();
  return context.get();
}

struct VerifyName {
  long code;
  const char* name;
  TlsReason reason;
};

constexpr VerifyName kVerifyNames[] = {
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, "X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT",
     TlsReason::Untrusted},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, "X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY",
     TlsReason::Untrusted},
    {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT",
     TlsReason::Untrusted},
    {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, "X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN",
     TlsReason::Untrusted},
    {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, "X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE",
     TlsReason::Untrusted},
    {X509_V_ERR_CERT_UNTRUSTED, "X509_V_ERR_CERT_UNTRUSTED", TlsReason::Untrusted},
    {X509_V_ERR_CERT_HAS_EXPIRED, "X509_V_ERR_CERT_HAS_EXPIRED", TlsReason::Expired},
    {X509_V_ERR_CERT_NOT_YET_VALID, "X509_V_ERR_CERT_NOT_YET_VALID", TlsReason::Expired},
    {X509_V_ERR_HOSTNAME_MISMATCH, "X509_V_ERR_HOSTNAME_MISMATCH", TlsReason::WrongName},
    {X509_V_ERR_IP_ADDRESS_MISMATCH, "X509_V_ERR_IP_ADDRESS_MISMATCH", TlsReason::WrongName},
};

class OpenSslTransport : public Transport {
 public:
  explicit OpenSslTransport(Transport& inner) : inner_(inner) {}
  ~OpenSslTransport() override { close(); }

  void connect(const std::string& host, uint16_t port, boost::system::error_code& error) override {
    close();
    inner_.connect(host, port, error);
    if (error) return;
    handshake(host);
  }

  bool isOpen() const override { return ssl_ != nullptr && inner_.isOpen(); }

  void write(const char* data, size_t size, boost::system::error_code& error) override {
    while (size > 0 && !error) {
      size_t written = 0;
      const int result = SSL_write_ex(ssl_.get(), data, size, &written);
      if (!flush(error)) return;
      if (result != 1) {
        error = streamError(SSL_get_error(ssl_.get(), result));
        return;
      }
      data += written;
      size -= written;
    }
  }

  size_t readSome(char* data, size_t size, boost::system::error_code& error) override {
    size_t total = 0;
    for (;;) {
      size_t got = 0;
      const int result = SSL_read_ex(ssl_.get(), data + total, size - total, &got);
      if (result == 1) {
        total += got;
        // What has arrived whole is taken in one call; never a wait for more.
        if (total == size || (SSL_pending(ssl_.get()) == 0 && !decryptable())) return total;
        continue;
      }
      if (total > 0) return total;
      const int reason = SSL_get_error(ssl_.get(), result);
      if (reason != SSL_ERROR_WANT_READ) {
        error = streamError(reason);
        return 0;
      }
      if (!flush(error) || !pull(-1, error)) return 0;
    }
  }

  // Readable once a whole record has been decrypted (or the stream's end or
  // failure is known): bytes of a record still arriving do not count.
  bool waitReadable(int timeoutMs) override {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (failed_ || SSL_pending(ssl_.get()) > 0) return true;
      char byte;
      size_t got = 0;
      const int result = SSL_peek_ex(ssl_.get(), &byte, 1, &got);
      if (result == 1) return true;
      if (SSL_get_error(ssl_.get(), result) != SSL_ERROR_WANT_READ) return true;
      boost::system::error_code error;
      if (!flush(error)) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            until - std::chrono::steady_clock::now())
                            .count();
      if (left < 0 || !inner_.waitReadable(static_cast<int>(left))) return false;
      if (!pull(0, error)) return true;
    }
  }

  void close() override {
    if (ssl_) {
      // A polite end (close_notify) costs one write; its failure is nothing.
      SSL_shutdown(ssl_.get());
      boost::system::error_code ignored;
      flush(ignored);
      ssl_.reset();
    }
    failed_ = false;
    inner_.close();
  }

 private:
  void handshake(const std::string& host) {
    failed_ = false;
    ssl_.reset(SSL_new(clientContext()));
    if (!ssl_) raiseFailed(host, "SSL_new");
    BIO* fromNetwork = BIO_new(BIO_s_mem());
    BIO* toNetwork = BIO_new(BIO_s_mem());
    if (!fromNetwork || !toNetwork) {
      BIO_free(fromNetwork);
      BIO_free(toNetwork);
      raiseFailed(host, "BIO_new");
    }
    BIO_set_mem_eof_return(fromNetwork, -1);
    SSL_set_bio(ssl_.get(), fromNetwork, toNetwork);
    fromNetwork_ = fromNetwork;
    toNetwork_ = toNetwork;
    SSL_set_connect_state(ssl_.get());
    // An address is checked as an address and gets no name indication.
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_.get());
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
      SSL_set_tlsext_host_name(ssl_.get(), host.c_str());
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    }
    for (;;) {
      ERR_clear_error();
      const int result = SSL_do_handshake(ssl_.get());
      boost::system::error_code error;
      if (!flush(error)) raiseFailed(host, "the connection was closed");
      if (result == 1) return;
      if (SSL_get_error(ssl_.get(), result) != SSL_ERROR_WANT_READ) break;
      // A server that never answers the handshake is given up after the
      // silence a transfer is given up after.
      if (!inner_.waitReadable(kHandshakeSilenceMs)) raiseFailed(host, "Socket Error # 10060");
      if (!pull(0, error)) raiseFailed(host, "the connection was closed");
    }
    const long verified = SSL_get_verify_result(ssl_.get());
    if (verified != X509_V_OK) {
      for (const VerifyName& entry : kVerifyNames) {
        if (entry.code == verified) raise(host, entry.reason, entry.name, verified);
      }
      raise(host, TlsReason::Untrusted, X509_verify_cert_error_string(verified), verified);
    }
    const unsigned long queued = ERR_peek_last_error();
    const char* text = queued ? ERR_reason_error_string(queued) : nullptr;
    raiseFailed(host, text ? text : "handshake");
  }

  [[noreturn]] void raise(const std::string& host, TlsReason reason, const char* name, long code) {
    close();
    throw base::Error(
        tlsErrorMessage(host, reason, std::string(name ? name : "?") + " " + std::to_string(code)));
  }
  [[noreturn]] void raiseFailed(const std::string& host, const char* what) {
    const unsigned long queued = ERR_peek_last_error();
    close();
    std::string code(what);
    if (queued) code.append(1, ' ').append(std::to_string(ERR_GET_REASON(queued)));
    throw base::Error(tlsErrorMessage(host, TlsReason::Failed, code));
  }

  // Whether bytes from the network wait to be decrypted.
  bool decryptable() const { return BIO_ctrl_pending(fromNetwork_) > 0; }

  // Sends what the library has written; false on a failure of the inner
  // connection (error set).
  bool flush(boost::system::error_code& error) {
    char* data = nullptr;
    const long pending = BIO_get_mem_data(toNetwork_, &data);
    if (pending <= 0) return true;
    inner_.write(data, static_cast<size_t>(pending), error);
    BIO_reset(toNetwork_);
    if (error) failed_ = true;
    return !error;
  }

  // Reads what the inner connection has (waiting for it when timeoutMs is
  // -1) into the library's input; false when the stream has ended or failed.
  bool pull(int timeoutMs, boost::system::error_code& error) {
    if (timeoutMs >= 0 && !inner_.waitReadable(timeoutMs)) return true;
    if (!inbound_) inbound_.reset(new char[kInnerReadSize]);
    const size_t got = inner_.readSome(inbound_.get(), kInnerReadSize, error);
    if (error || got == 0) {
      if (!error) error = boost::asio::error::eof;
      failed_ = true;
      return false;
    }
    BIO_write(fromNetwork_, inbound_.get(), static_cast<int>(got));
    return true;
  }

  // A failure after the handshake, as the client reads the inner
  // connection's: the stream's end or a reset.
  boost::system::error_code streamError(int reason) {
    failed_ = true;
    if (reason == SSL_ERROR_ZERO_RETURN) return boost::asio::error::eof;
    return boost::asio::error::connection_reset;
  }

  Transport& inner_;
  std::unique_ptr<SSL, SslDeleter> ssl_;
  BIO* fromNetwork_ = nullptr;  // owned by ssl_
  BIO* toNetwork_ = nullptr;    // owned by ssl_
  std::unique_ptr<char[]> inbound_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Transport> makeTlsTransport(Transport& inner) {
  return std::make_unique<OpenSslTransport>(inner);
}

}  // namespace http
