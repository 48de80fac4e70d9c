// The POSIX side of the socket transport: waiting with poll(), and errno
// values and name look-up failures as Windows Sockets codes.
#include <poll.h>

#include <cerrno>

#include <boost/asio/error.hpp>

#include "http/socket_system.h"

namespace http {

namespace {

int fromErrno(int code) {
  switch (code) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
      return 10024;
    case EWOULDBLOCK:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case EPIPE:
      return 10054;  // writing to a connection the peer has reset
    case ENOBUFS:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return code;
  }
}

}  // namespace

bool waitSocketReadable(SocketHandle socket, int timeoutMs) {
  pollfd entry{socket, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready != 0;
}

int socketErrorCode(const boost::system::error_code& error) {
  namespace asio_error = boost::asio::error;
  if (error.category() == asio_error::get_netdb_category()) {
    switch (error.value()) {
      case asio_error::host_not_found:
        return 11001;
      case asio_error::host_not_found_try_again:
        return 11002;
      case asio_error::no_recovery:
        return 11003;
      case asio_error::no_data:
        return 11004;
      default:
        return error.value();
    }
  }
  if (error.category() == asio_error::get_addrinfo_category()) {
    if (error == asio_error::service_not_found) return 10109;
    if (error == asio_error::socket_type_not_supported) return 10044;
    return error.value();
  }
  return fromErrno(error.value());
}

}  // namespace http
