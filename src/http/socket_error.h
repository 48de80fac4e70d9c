// Network failures as the user reads them: socket failures as "Socket Error #
// <code>" CR LF <text>, with Windows Sockets error codes and texts on every
// system; failed TLS handshakes through tlsErrorMessage (tls.h).
#pragma once

#include <string>

namespace http {

// The text of a Windows Sockets error code, such as "Connection refused." for
// 10061; empty for a code the table does not hold.
std::string socketErrorText(int code);

// "Socket Error # " + code + "\r\n" + socketErrorText(code).
std::string socketErrorMessage(int code);

}  // namespace http
