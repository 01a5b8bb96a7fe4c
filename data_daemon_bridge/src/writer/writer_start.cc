#include "writer/writer_start.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "data_daemon_shared/config.h"
#include "events/events.h"
#include "port/fork.h"
#include "port/thread.h"
#include "publisher/keep_forever.h"
#include "writer/writer_log.h"
#include "writer/writer_loop.h"

namespace data_daemon_bridge {

namespace {

// WRITER: the writer of one process. A cell is created per process and never destroyed; a
// child that finds its parent's cell leaves it untouched (its mutex may be held by a thread that
// does not exist in the child) and puts a fresh one in its place.
struct WriterSingleton {
  explicit WriterSingleton(uint32_t creator) : creator(creator) {}
  const uint32_t creator;              // the process this cell serves
  std::mutex mutex;
  uint32_t pid = 0;                    // guarded by mutex; the process that started the writer
  std::shared_ptr<WriterQueue> queue;  // guarded by mutex; the queue the running writer serves
};

std::atomic<WriterSingleton*> WRITER{nullptr};

WriterSingleton& writer_singleton(uint32_t pid) {
  WriterSingleton* cell = WRITER.load(std::memory_order_acquire);
  while (cell == nullptr || cell->creator != pid) {
    auto* created = new WriterSingleton(pid);
    WriterSingleton* inherited = cell;
    if (WRITER.compare_exchange_strong(cell, created, std::memory_order_acq_rel,
                                       std::memory_order_acquire)) {
      if (inherited) keep_forever(inherited);
      return *created;
    }
    delete created;
  }
  return *cell;
}

// WRITER_QUEUE_CACHE: the calling thread's handle and the process it was taken in.
struct WriterQueueCache {
  std::shared_ptr<WriterQueue> queue;
  uint32_t pid = 0;
};
thread_local WriterQueueCache WRITER_QUEUE_CACHE;

std::atomic<bool> atfork_attempted{false};
// Set once the child handler is in place: from then on a fork empties the forking thread's cache,
// so the fast path need not compare process ids.
std::atomic<bool> atfork_registered{false};

std::atomic<WriterThreadStarter> thread_starter{nullptr};
std::atomic<ForkHandlerRegistration> fork_registration{nullptr};

data_daemon_shared::Result<data_daemon_shared::Unit, std::string> start_writer_thread(
    std::shared_ptr<WriterQueue> queue) {
  std::function<void()> body = [queue = std::move(queue)] { writer_thread_main(queue); };
  if (WriterThreadStarter starter = thread_starter.load(std::memory_order_acquire)) {
    return starter("qs-video-writer", WRITER_STACK_BYTES, std::move(body));
  }
  return port::start_detached_thread("qs-video-writer", WRITER_STACK_BYTES, std::move(body));
}

}  // namespace

void cache_writer_queue(std::shared_ptr<WriterQueue> queue) {
  WRITER_QUEUE_CACHE = {std::move(queue), static_cast<uint32_t>(getpid())};
}

void writer_atfork_child() {
  // The parent's queue: let go of it without touching it.
  if (WRITER_QUEUE_CACHE.queue) keep_forever(std::move(WRITER_QUEUE_CACHE.queue));
  WRITER_QUEUE_CACHE = {};
}

void register_writer_atfork() {
  if (atfork_attempted.exchange(true)) return;
  ForkHandlerRegistration registration = fork_registration.load(std::memory_order_acquire);
  if (!registration) registration = port::register_fork_child_handler;
  if (int error = registration(writer_atfork_child); error != 0) {
    emit_event(EventLevel::Warn, WRITER_LOG_TARGET,
               "pthread_atfork registration failed; video writer-queue cache relies on PID heal",
               {{"errno", std::to_string(error)}});
    return;
  }
  atfork_registered.store(true, std::memory_order_release);
}

std::shared_ptr<WriterQueue> get_or_spawn_writer() {
  const WriterQueueCache& cache = WRITER_QUEUE_CACHE;
  if (cache.queue && (atfork_registered.load(std::memory_order_acquire) ||
                      cache.pid == static_cast<uint32_t>(getpid()))) {
    return cache.queue;
  }
  if (cache.queue) writer_atfork_child();  // a parent's handle, seen without the fork handler

  register_writer_atfork();
  const uint32_t pid = static_cast<uint32_t>(getpid());
  WriterSingleton& writer = writer_singleton(pid);
  std::shared_ptr<WriterQueue> result;
  {
    std::lock_guard lock(writer.mutex);
    if (writer.pid == pid && writer.queue) {
      result = writer.queue;
    } else {
      auto queue = std::make_shared<WriterQueue>(data_daemon_shared::effective_spool_limit());
      auto started = start_writer_thread(queue);
      if (!started.ok()) {
        emit_event(EventLevel::Error, WRITER_LOG_TARGET,
                   "failed to spawn video writer thread; dropping frame",
                   {{"error", started.error()}});
        return queue;  // not cached, not kept: released with the caller's handle
      }
      writer.pid = pid;
      writer.queue = queue;
      result = std::move(queue);
    }
  }
  cache_writer_queue(result);
  return result;
}

void set_writer_thread_starter_for_testing(WriterThreadStarter starter) {
  thread_starter.store(starter, std::memory_order_release);
}

void set_fork_handler_registration_for_testing(ForkHandlerRegistration registration) {
  fork_registration.store(registration, std::memory_order_release);
}

}  // namespace data_daemon_bridge
