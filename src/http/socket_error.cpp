#include "http/socket_error.h"

#include <cerrno>

#include <boost/asio/error.hpp>

namespace http {

namespace {

struct CodeText {
  int code;
  const char* text;
};

constexpr CodeText kTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty."},
    {10091, "Network subsystem is unavailable."},
    {10092, "Requested socket version not supported."},
    {10093, "Socket library not initialized."},
    {10109, "Class type not found."},
    {11001, "Host not found."},
    {11002, "Non-authoritative host not found."},
    {11003, "Non-recoverable error."},
    {11004, "Valid name, no data record of requested type."},
};

#ifdef _WIN32
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
#else
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
#endif

}  // namespace

std::string socketErrorText(int code) {
  for (const CodeText& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return std::string();
}

std::string socketErrorMessage(int code) {
  return "Socket Error # " + std::to_string(code) + "\r\n" + socketErrorText(code);
}

int socketErrorCode(const boost::system::error_code& error) {
  namespace asio_error = boost::asio::error;
#ifdef _WIN32
  // Name look-up and socket failures alike are Windows codes already.
  return fromWindowsCode(error.value());
#else
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
#endif
}

}  // namespace http
