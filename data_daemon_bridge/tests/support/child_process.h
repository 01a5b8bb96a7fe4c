// A program run in a second process for a test, with its standard output readable line by line.
//
// Waits are bounded only so that a broken peer cannot hang the suite. The destructor stops a
// child that is still running (SIGTERM, then SIGKILL if it does not end within 10 s) and reaps
// it, so that a daemon can release its ports.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace data_daemon_bridge::testing {

class ChildProcess {
 public:
  enum class Stderr { Inherit, Merge };

  // Starts argv[0] (a path) with the given arguments; its stdout goes to a pipe, its stderr to
  // the test's stderr or, with Stderr::Merge, into the same pipe. Aborts the test program if the
  // process cannot be started.
  explicit ChildProcess(const std::vector<std::string>& argv, Stderr stderr_to = Stderr::Inherit);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line without its newline, or empty when the child closed its stdout or nothing
  // came within `limit`.
  std::optional<std::string> read_line(std::chrono::milliseconds limit = std::chrono::seconds(20));

  // Reads lines until one equals `line`; false when it never came.
  bool wait_for_line(const std::string& line,
                     std::chrono::milliseconds limit = std::chrono::seconds(20));

  // Sends the signal.
  void signal(int signo);

  // The exit status as waitpid reports it, or empty when the child did not end within `limit`.
  std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::seconds(20));

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  std::string buffer_;
  bool reaped_ = false;
};

// The path of a helper program built next to the test binary (CMake passes the directory).
std::string helper_path(const std::string& name);

}  // namespace data_daemon_bridge::testing
