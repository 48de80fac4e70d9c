// The Windows side of the socket transport: waiting with select(), and the
// few failures that come back as general Windows error codes.
#include <winsock2.h>

#include "http/socket_system.h"

namespace http {

namespace {

// A few failures come back as general Windows error codes instead of socket codes.
int fromWindowsCode(int code) {
  switch (code) {
    case 64:  // ERROR_NETNAME_DELETED
      return 10054;
    case 121:  // ERROR_SEM_TIMEOUT
      return 10060;
    case 1225:  // ERROR_CONNECTION_REFUSED
      return 10061;
    case 1231:  // ERROR_NETWORK_UNREACHABLE
      return 10051;
    case 1232:  // ERROR_HOST_UNREACHABLE
      return 10065;
    case 1236:  // ERROR_CONNECTION_ABORTED
      return 10053;
    default:
      return code;
  }
}

}  // namespace

bool waitSocketReadable(SocketHandle socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &timeout) != 0;
}

int socketErrorCode(const boost::system::error_code& error) {
  // Name look-up and socket failures alike are Windows codes already.
  return fromWindowsCode(error.value());
}

}  // namespace http
