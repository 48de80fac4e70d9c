// TLS for https URLs: a secure connection over another connection (a TCP
// socket, or later a proxy's tunnel), through what the system provides
// (Schannel on Windows, OpenSSL elsewhere; platform/*/tls.cpp). Trust is the
// system's: the certificate chain is checked against the system's store, the
// host name against the certificate, TLS 1.2 at least, and the host name is
// sent (SNI). Nothing in the program can turn any of it off.
#pragma once

#include <memory>
#include <string>

#include "http/transport.h"

namespace http {

// Why a secure connection could not be made, in the program's own terms.
enum class TlsReason {
  Untrusted,  // the chain does not end at a root the system trusts
  Expired,    // a certificate of the chain is out of its validity period
  WrongName,  // the certificate is not the host's
  Failed,     // anything else: the handshake itself failed
};

// The text the user reads for a failed handshake with host: the reason in
// plain words and the system's own code (its name and number, such as
// "SEC_E_UNTRUSTED_ROOT 0x80090325").
std::string tlsErrorMessage(const std::string& host, TlsReason reason,
                            const std::string& systemCode);

// A TLS client over `inner`, which it uses but does not own. Its connect
// connects inner to host and port and makes the handshake with host's name;
// a handshake that fails closes inner and raises base::Error with
// tlsErrorMessage's text. A failure after the handshake (reading or writing)
// is reported as the inner connection's failures are: an error code, the
// end of the stream as boost::asio::error::eof.
std::unique_ptr<Transport> makeTlsTransport(Transport& inner);

}  // namespace http
