// What the socket transport needs from the system it runs on; each system's
// own implementation provides it (platform/win32, platform/posix).
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace http {

using SocketHandle = boost::asio::ip::tcp::socket::native_handle_type;

// Whether a read of the socket would not wait (data, its end or a failure is
// there), waiting at most timeoutMs for it. A failure of the wait itself
// counts as readable: the read that follows reports it.
bool waitSocketReadable(SocketHandle socket, int timeoutMs);

// The Windows Sockets code of a failure reported by the socket layer. Windows
// reports these codes itself; elsewhere errno values and name look-up
// failures are mapped onto them. A failure with no counterpart keeps its own
// number (and so gets an empty text).
int socketErrorCode(const boost::system::error_code& error);

}  // namespace http
