// Where one kind of background thread is started: the platform's way, or one a test put in.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>

#include "data_daemon_shared/result.h"
#include "port/thread.h"

namespace data_daemon_bridge {

// Starts a detached thread: its name, its stack size (0: the platform's default) and its body. On
// failure nothing runs and the error carries the system error's text. port::start_detached_thread
// is the platform's.
using ThreadStarter = data_daemon_shared::Result<data_daemon_shared::Unit, std::string> (*)(
    std::string name, size_t stack_bytes, std::function<void()> body);

// Takes no lock, so a start made under a lock that a fork may copy waits on nothing else.
class ThreadStartSeam {
 public:
  constexpr ThreadStartSeam() = default;
  ThreadStartSeam(const ThreadStartSeam&) = delete;
  ThreadStartSeam& operator=(const ThreadStartSeam&) = delete;

  // The test's starter when one is set, else the platform's.
  ThreadStarter starter() const {
    ThreadStarter starter = for_testing_.load(std::memory_order_acquire);
    return starter != nullptr ? starter : port::start_detached_thread;
  }

  data_daemon_shared::Result<data_daemon_shared::Unit, std::string> start(
      std::string name, size_t stack_bytes, std::function<void()> body) const {
    return starter()(std::move(name), stack_bytes, std::move(body));
  }

  // Tests: nullptr restores the platform's starter.
  void set_for_testing(ThreadStarter starter) {
    for_testing_.store(starter, std::memory_order_release);
  }

 private:
  std::atomic<ThreadStarter> for_testing_{nullptr};
};

}  // namespace data_daemon_bridge
