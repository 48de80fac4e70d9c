// The connection underneath the HTTP client: one byte stream to a host and
// port. The client's own default is a TCP socket; an in-memory stream can
// stand in for it, which lets the response reader run on any bytes without a
// network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/system/error_code.hpp>

namespace http {

class Transport {
 public:
  virtual ~Transport() = default;

  // Opens a connection to host (an IPv6 literal without its brackets) and
  // port. Only called while closed.
  virtual void connect(const std::string& host, uint16_t port,
                       boost::system::error_code& error) = 0;
  virtual bool isOpen() const = 0;
  // All of size bytes, or an error.
  virtual void write(const char* data, size_t size, boost::system::error_code& error) = 0;
  // What the connection has, at least one byte and at most size; waits for
  // it. The end of the stream is boost::asio::error::eof.
  virtual size_t readSome(char* data, size_t size, boost::system::error_code& error) = 0;
  // Whether a read would not wait (data, the end of the stream or a failure
  // is there), waiting at most timeoutMs for it.
  virtual bool waitReadable(int timeoutMs) = 0;
  // Closes the connection; nothing happens when it is closed already.
  virtual void close() = 0;
};

// A TCP connection through the system's sockets and name look-up.
std::unique_ptr<Transport> makeSocketTransport();

}  // namespace http
