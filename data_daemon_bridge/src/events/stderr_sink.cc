#include "events/stderr_sink.h"

#include <limits.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "events/event_lines.h"
#include "events/stderr_file.h"
#include "port/fork.h"
#include "port/signals.h"
#include "port/thread.h"

namespace data_daemon_bridge {

namespace {

constexpr const char* kLogThreadName = "qs-event-log";

struct QueuedLine {
  std::string text;
  uint64_t lost_after = 0;  // lines that found the queue full after this one was queued
};

struct StderrLog {
  std::mutex mutex;
  std::condition_variable queued;   // the writing thread waits for a line
  std::condition_variable written;  // the flush at exit waits for the queue to empty
  EventFolder folder{PIPE_BUF};     // guarded by mutex
  std::deque<QueuedLine> lines;     // guarded by mutex; at most kMaxQueuedEventLines
  bool writing = false;             // the thread holds a line taken off `lines`; guarded
  bool thread_started = false;      // guarded by mutex
};

// Owner: the process. Made by the first event and never released, since events may come from any
// thread until the process ends; its writing thread runs as long as the process. A forked child
// replaces it, keeping the parent's forever: a parent thread may have held its mutex at the fork,
// and the child has no writing thread.
std::atomic<StderrLog*> STDERR_LOG{nullptr};

// Lines lost before they reached the queue, for want of memory; the writing thread takes them
// into its count. Owner: the process (a forked child inherits the count, as it would the queue).
std::atomic<uint64_t> UNQUEUED_LINES{0};

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

// The count line, made in place: the writing thread allocates nothing of its own, so that it goes
// on while memory has run out.
StderrWrite write_lost_line(uint64_t lost) {
  char line[96];
  const int n = std::snprintf(line, sizeof line,
                              "WARN data_daemon_bridge::events: %llu event lines could not be "
                              "written to stderr\n",
                              static_cast<unsigned long long>(lost));
  return write_to_stderr_file(std::string_view(line, static_cast<size_t>(n)));
}

// The body of the writing thread: the lines in queue order, the count of those lost written
// ahead of the next line that is. Nothing in it allocates or throws.
[[noreturn]] void write_lines(StderrLog& log) {
  port::block_asynchronous_signals_on_this_thread();
  uint64_t lost = 0;  // owned by this thread
  std::unique_lock lock(log.mutex);
  for (;;) {
    log.queued.wait(lock, [&] { return !log.lines.empty(); });
    QueuedLine line = std::move(log.lines.front());
    log.lines.pop_front();
    log.writing = true;
    lock.unlock();
    lost += UNQUEUED_LINES.exchange(0, std::memory_order_relaxed);
    if (lost > 0 && write_lost_line(lost) == StderrWrite::Written) lost = 0;
    if (write_to_stderr_file(line.text) != StderrWrite::Written) ++lost;
    lost += line.lost_after;
    line = {};
    lock.lock();
    log.writing = false;
    if (log.lines.empty()) log.written.notify_all();
  }
}

// Queues lines for the writing thread, starting it if it is not running. REQUIRES: log.mutex held.
void queue_lines(StderrLog& log, std::vector<std::string> lines) {
  if (lines.empty()) return;
  for (std::string& line : lines) {
    if (log.lines.size() >= kMaxQueuedEventLines) {
      ++log.lines.back().lost_after;
      continue;
    }
    try {
      log.lines.push_back({std::move(line)});
    } catch (const std::bad_alloc&) {
      count_lost_event_line();
    }
  }
  if (!log.thread_started) {
    // Not started (no thread or no memory to be had now): the lines wait, and the next event
    // tries again. The thread is born with the asynchronous signals blocked.
    try {
      const port::AsynchronousSignalsBlocked blocked;
      log.thread_started = static_cast<bool>(
          port::start_detached_thread(kLogThreadName, 0, [&log] { write_lines(log); }));
    } catch (const std::bad_alloc&) {
    }
  }
  log.queued.notify_one();
}

// REQUIRES: lock holds log.mutex.
bool wait_until_written(StderrLog& log, std::unique_lock<std::mutex>& lock,
                        std::chrono::milliseconds limit) {
  return log.written.wait_for(lock, limit, [&] { return log.lines.empty() && !log.writing; });
}

// Set by flush_event_lines_for_exit; never cleared. Owner: the process.
std::atomic<bool> FLUSHED_FOR_EXIT{false};

// Queues the counts of the bursts still open, then gives the queue up to `wait` to be written.
// Bounded: a stderr that takes nothing must not hold the exit up.
void flush_lines(std::chrono::milliseconds wait) {
  StderrLog* log = STDERR_LOG.load(std::memory_order_acquire);
  if (log == nullptr) return;  // no event yet, so nothing to write
  std::unique_lock lock(log->mutex);
  try {
    queue_lines(*log, log->folder.flush());
  } catch (const std::bad_alloc&) {
    count_lost_event_line();
  }
  if (wait > std::chrono::milliseconds::zero()) (void)wait_until_written(*log, lock, wait);
}

// The process's own exit, after any interpreter has finalized: it waits only when no flush for
// the exit ran before (a host without an interpreter).
void flush_at_exit() {
  flush_lines(FLUSHED_FOR_EXIT.load(std::memory_order_acquire) ? std::chrono::milliseconds::zero()
                                                               : kExitFlushWait);
}

}  // namespace

void write_event_to_stderr(const Event& event) {
  if (event.level == EventLevel::Debug) return;
  try {
    StderrLog& log = stderr_log();
    std::lock_guard lock(log.mutex);
    queue_lines(log, log.folder.accept(event, std::chrono::steady_clock::now()));
  } catch (const std::bad_alloc&) {
    count_lost_event_line();
  }
}

void count_lost_event_line() noexcept { UNQUEUED_LINES.fetch_add(1, std::memory_order_relaxed); }

void flush_event_lines_for_exit() {
  flush_lines(kExitFlushWait);
  FLUSHED_FOR_EXIT.store(true, std::memory_order_release);
}

bool wait_for_event_lines(std::chrono::milliseconds limit) {
  StderrLog& log = stderr_log();
  std::unique_lock lock(log.mutex);
  return wait_until_written(log, lock, limit);
}

}  // namespace data_daemon_bridge
