#include "script_server.h"

// The clocks and durations of std::chrono come with <condition_variable> and
// <thread>; <chrono> itself does not compile with the code page 936 execution
// character set of the Windows builds.
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace testing_server {

namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
const uintptr_t kNoSocket = static_cast<uintptr_t>(INVALID_SOCKET);
constexpr int kSendFlags = 0;
void closeNative(uintptr_t s) {
  ::closesocket(static_cast<NativeSocket>(s));
}
#else
using NativeSocket = int;
const uintptr_t kNoSocket = static_cast<uintptr_t>(-1);
constexpr int kSendFlags = MSG_NOSIGNAL;
void closeNative(uintptr_t s) {
  ::close(static_cast<NativeSocket>(s));
}
#endif

NativeSocket native(uintptr_t s) {
  return static_cast<NativeSocket>(s);
}

// How long the script waits for a connection or a request before it gives up.
constexpr int kStepLimitMs = 10000;

struct SocketLibrary {
  SocketLibrary() {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
  }
};

uintptr_t boundSocket(uint16_t& port) {
  static SocketLibrary library;
  NativeSocket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("bind failed");
  }
  socklen_t length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return static_cast<uintptr_t>(s);
}

}  // namespace

ScriptServer::ScriptServer() {
  listener_ = boundSocket(port_);
  connection_ = kNoSocket;
  ::listen(native(listener_), 8);
}

ScriptServer::~ScriptServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (connection_ != kNoSocket) closeNative(connection_);
  closeNative(listener_);
}

std::string ScriptServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

ScriptServer& ScriptServer::accept() {
  script_.push_back({Kind::kAccept, {}, 0});
  return *this;
}
ScriptServer& ScriptServer::readRequest() {
  script_.push_back({Kind::kRead, {}, 0});
  return *this;
}
ScriptServer& ScriptServer::send(std::string bytes) {
  script_.push_back({Kind::kSend, std::move(bytes), 0});
  return *this;
}
ScriptServer& ScriptServer::pause(int milliseconds) {
  script_.push_back({Kind::kPause, {}, milliseconds});
  return *this;
}
ScriptServer& ScriptServer::close() {
  script_.push_back({Kind::kClose, {}, 0});
  return *this;
}
ScriptServer& ScriptServer::reset() {
  script_.push_back({Kind::kReset, {}, 0});
  return *this;
}

void ScriptServer::start() {
  thread_ = std::thread([this] { run(); });
}

std::vector<std::string> ScriptServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptServer::waitForClosed(int connections) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(kStepLimitMs),
                    [&] { return stop_ || closed_ >= connections; });
}

uint16_t ScriptServer::unusedPort() {
  uint16_t port = 0;
  closeNative(boundSocket(port));
  return port;
}

bool ScriptServer::waitReadable(uintptr_t socket, int milliseconds) {
  // Short waits, so that the end of the test can stop the script promptly.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return false;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native(socket), &readable);
    timeval timeout{0, 20000};
    if (::select(static_cast<int>(socket) + 1, &readable, nullptr, nullptr, &timeout) > 0) {
      return true;
    }
  }
  return false;
}

void ScriptServer::closeConnection(bool reset) {
  if (connection_ == kNoSocket) return;
  if (reset) {
    linger option{1, 0};
    ::setsockopt(native(connection_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
                 sizeof option);
  }
  closeNative(connection_);
  connection_ = kNoSocket;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++closed_;
  }
  changed_.notify_all();
}

bool ScriptServer::runStep(const Step& step) {
  switch (step.kind) {
    case Kind::kAccept:
      closeConnection(false);
      if (!waitReadable(listener_, kStepLimitMs)) return false;
      connection_ = static_cast<uintptr_t>(::accept(native(listener_), nullptr, nullptr));
      return true;
    case Kind::kRead: {
      std::string head;
      char byte;
      while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
        if (!waitReadable(connection_, kStepLimitMs)) return false;
        if (::recv(native(connection_), &byte, 1, 0) != 1) return false;
        head += byte;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head);
      return true;
    }
    case Kind::kSend: {
      size_t sent = 0;
      while (sent < step.bytes.size()) {
        int n = ::send(native(connection_), step.bytes.data() + sent,
                       static_cast<int>(step.bytes.size() - sent), kSendFlags);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
      }
      return true;
    }
    case Kind::kPause: {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, std::chrono::milliseconds(step.milliseconds), [&] { return stop_; });
      return !stop_;
    }
    case Kind::kClose:
      closeConnection(false);
      return true;
    case Kind::kReset:
      closeConnection(true);
      return true;
  }
  return false;
}

bool ScriptServer::scriptFinished() {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

void ScriptServer::run() {
  bool completed = true;
  for (const Step& step : script_) {
    if (!runStep(step)) {
      completed = false;
      break;
    }
  }
  closeConnection(false);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = completed;
  }
  // Anything after the script is turned away.
  while (waitReadable(listener_, 3600 * 1000)) {
    closeNative(static_cast<uintptr_t>(::accept(native(listener_), nullptr, nullptr)));
  }
}

}  // namespace testing_server
