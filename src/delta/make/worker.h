// Work on a thread of its own, whose failure is raised where it is joined.
#pragma once

#include <exception>
#include <thread>

namespace delta {

// Runs fn on a thread of its own; join() rethrows what it raised.
class Worker {
 public:
  template <typename Fn>
  explicit Worker(Fn fn)
      : thread_([this, fn] {
          try {
            fn();
          } catch (...) {
            failure_ = std::current_exception();
          }
        }) {}
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  // Waits for the thread; what it raised is dropped (an error of the caller's
  // is on its way out).
  ~Worker() {
    if (thread_.joinable()) thread_.join();
  }
  // Waits for the thread and raises what it raised.
  void join() {
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace delta
