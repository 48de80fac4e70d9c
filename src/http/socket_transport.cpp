// The client's default connection: a TCP socket through Asio, all
// synchronous on the caller's thread.
#include "http/socket_system.h"
#include "http/transport.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

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
    return waitSocketReadable(socket_.native_handle(), timeoutMs);
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
