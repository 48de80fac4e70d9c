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
  ~Worker() {
    if (thread_.joinable()) thread_.join();
  }
  void join() {
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace delta
