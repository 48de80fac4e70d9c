// Socket failures as the user reads them: "Socket Error # <code>" CR LF <text>,
// with Windows Sockets error codes and texts on every system.
#pragma once

#include <string>

#include <boost/system/error_code.hpp>

namespace http {

// The text of a Windows Sockets error code, such as "Connection refused." for
// 10061; empty for a code the table does not hold.
std::string socketErrorText(int code);

// "Socket Error # " + code + "\r\n" + socketErrorText(code).
std::string socketErrorMessage(int code);

// The Windows Sockets code of a failure reported by the socket layer. Windows
// reports these codes itself; elsewhere errno values and name look-up
// failures are mapped onto them. A failure with no counterpart keeps its own
// number (and so gets an empty text).
int socketErrorCode(const boost::system::error_code& error);

}  // namespace http
