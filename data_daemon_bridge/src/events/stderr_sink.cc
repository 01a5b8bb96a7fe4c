#include "events/stderr_sink.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>

#include "events/event_lines.h"
#include "port/fork.h"

namespace data_daemon_bridge {

namespace {

struct StderrLog {
  std::mutex mutex;
  EventFolder folder;      // guarded by mutex
  uint64_t unwritten = 0;  // lines not written since the last one that was; guarded by mutex
};

// Owner: the process. Made by the first event written and never released, since events may come
// from any thread until the process ends. A forked child replaces it, keeping the parent's forever:
// a parent thread may have held its mutex at the fork.
std::atomic<StderrLog*> STDERR_LOG{nullptr};

void replace_in_child() { STDERR_LOG.store(new StderrLog, std::memory_order_release); }

void flush_at_exit();

StderrLog& stderr_log() {
  static const bool registered = [] {
    STDERR_LOG.store(new StderrLog, std::memory_order_release);
    (void)port::register_fork_child_handler(&replace_in_child);  // failing, a child may block
    std::atexit(&flush_at_exit);
    return true;
  }();
  (void)registered;
  return *STDERR_LOG.load(std::memory_order_acquire);
}

// Writes line whole if the stream takes it now; false when it does not.
bool write_now(std::string line) {
  if (line.size() > PIPE_BUF) {
    line.resize(PIPE_BUF - 4);
    line += "...\n";
  }
  pollfd stream{STDERR_FILENO, POLLOUT, 0};
  if (poll(&stream, 1, 0) != 1 || (stream.revents & POLLOUT) == 0) return false;
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t written = write(STDERR_FILENO, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

// REQUIRES: log.mutex held.
void write_lines(StderrLog& log, std::vector<std::string> lines) {
  for (std::string& line : lines) {
    if (log.unwritten > 0 &&
        write_now("WARN data_daemon_bridge::events: " + std::to_string(log.unwritten) +
                  " event lines could not be written to stderr\n")) {
      log.unwritten = 0;
    }
    if (!write_now(std::move(line))) ++log.unwritten;
  }
}

void flush_at_exit() {
  StderrLog& log = *STDERR_LOG.load(std::memory_order_acquire);
  // A thread that is writing right now finishes its line first; none ever keeps the lock long.
  std::lock_guard lock(log.mutex);
  write_lines(log, log.folder.flush());
}

}  // namespace

void write_event_to_stderr(const Event& event) {
  if (event.level == EventLevel::Debug) return;
  StderrLog& log = stderr_log();
  std::lock_guard lock(log.mutex);
  write_lines(log, log.folder.accept(event, std::chrono::steady_clock::now()));
}

}  // namespace data_daemon_bridge
