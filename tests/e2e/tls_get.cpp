// Fetches one URL path over the TLS transport and the socket transport
// beneath it, as the HTTP client uses them, and writes the whole response
// (head and body) to a file. Usage: tls_get <host> <port> <path> <file>
// [plain]; with "plain", over the socket transport alone (for the benchmark's
// reference).
// Prints "ok", and how often a wait for readable bytes said no (the server
// may pause inside a record) and the longest read, in milliseconds; or the
// handshake's failure text; or "error <code>" for a failed read or write.
#include <boost/asio/error.hpp>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "base/error.h"
#include "http/tls.h"

int main(int argc, char** argv) {
  if (argc != 5 && !(argc == 6 && std::string(argv[5]) == "plain")) return 2;
  const std::string host = argv[1];
  std::unique_ptr<http::Transport> socket = http::makeSocketTransport();
  std::unique_ptr<http::Transport> tls =
      argc == 6 ? std::move(socket) : http::makeTlsTransport(*socket);
  boost::system::error_code error;
  try {
    tls->connect(host, static_cast<uint16_t>(std::stoi(argv[2])), error);
  } catch (const base::Error& failure) {
    std::printf("%s\n", failure.message().c_str());
    return 3;
  }
  if (error) {
    std::printf("error %d\n", error.value());
    return 4;
  }
  const std::string request = std::string("GET ") + argv[3] + " HTTP/1.1\r\nHost: " + host +
                              "\r\nConnection: close\r\n\r\n";
  tls->write(request.data(), request.size(), error);
  FILE* out = std::fopen(argv[4], "wb");
  if (!out) return 2;
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  int refusals = 0;
  long long longestRead = 0;
  while (!error) {
    while (!tls->waitReadable(100)) ++refusals;
    const auto start = std::chrono::steady_clock::now();
    const size_t got = tls->readSome(buffer.get(), 1 << 20, error);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    if (took > longestRead) longestRead = took;
    std::fwrite(buffer.get(), 1, got, out);
  }
  std::fclose(out);
  tls->close();
  if (error != boost::asio::error::eof) {
    std::printf("error %d\n", error.value());
    return 4;
  }
  std::printf("ok %d %lld\n", refusals, longestRead);
  return 0;
}
