// The client's default connection: a TCP socket through Asio, all
// synchronous on the caller's thread.
#include "http/transport.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#ifndef _WIN32
#include <poll.h>
#include <cerrno>
#endif

namespace http {

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

class SocketTransport : public Transport {
 public:
  void connect(const std::string& host, uint16_t port, boost::system::error_code& error) override {
    tcp::resolver resolver(io_);
    tcp::resolver::results_type endpoints =
        resolver.resolve(host, std::to_string(port), tcp::resolver::numeric_service, error);
    if (error) return;
    asio::connect(socket_, endpoints, error);
  }

  bool isOpen() const override { return socket_.is_open(); }

  void write(const char* data, size_t size, boost::system::error_code& error) override {
    asio::write(socket_, asio::buffer(data, size), error);
  }

  size_t readSome(char* data, size_t size, boost::system::error_code& error) override {
    return socket_.read_some(asio::buffer(data, size), error);
  }

  bool waitReadable(int timeoutMs) override {
    auto handle = socket_.native_handle();
#ifdef _WIN32
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    // A failure of the wait counts as readable: the read that follows reports it.
    return ::select(0, &readable, nullptr, nullptr, &timeout) != 0;
#else
    pollfd entry{handle, POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
#endif
  }

  void close() override {
    boost::system::error_code ignored;
    socket_.close(ignored);
  }

 private:
  asio::io_context io_;
  tcp::socket socket_{io_};
};

}  // namespace

std::unique_ptr<Transport> makeSocketTransport() {
  return std::make_unique<SocketTransport>();
}

}  // namespace http
