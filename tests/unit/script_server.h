// A scripted HTTP server on 127.0.0.1 for the client's tests. It runs a script
// on its own thread: accept a connection, read a request head (recording its
// exact bytes), send bytes, pause, close or reset the connection. After the
// script, further connections are accepted and closed at once, so that a
// client that connects where the script does not expect it fails instead of
// waiting.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_server {

class ScriptServer {
 public:
  ScriptServer();   // listens on 127.0.0.1, on a free port
  ~ScriptServer();  // ends the script where it is and waits for the thread
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + path
  std::string url(const std::string& path) const;

  // Script steps, run in order once start() is called.
  ScriptServer& accept();       // takes the next connection
  ScriptServer& readRequest();  // reads and records one request head
  ScriptServer& send(std::string bytes);
  ScriptServer& pause(int milliseconds);
  ScriptServer& close();  // graceful close
  ScriptServer& reset();  // close with a reset (linger time 0)
  void start();

  // The request heads received so far, in order.
  std::vector<std::string> requests();
  // Waits until the script has closed (or reset) that many connections.
  void waitForClosed(int connections);
  // Whether every step of the script has run.
  bool scriptFinished();

  // A port on 127.0.0.1 that nothing listens on.
  static uint16_t unusedPort();

 private:
  enum class Kind { kAccept, kRead, kSend, kPause, kClose, kReset };
  struct Step {
    Kind kind;
    std::string bytes;
    int milliseconds = 0;
  };

  void run();
  bool runStep(const Step& step);
  bool waitReadable(uintptr_t socket, int milliseconds);
  void closeConnection(bool reset);

  uintptr_t listener_;
  uintptr_t connection_;
  uint16_t port_ = 0;
  std::vector<Step> script_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  int closed_ = 0;
  bool finished_ = false;
  std::vector<std::string> requests_;
};

}  // namespace testing_server
