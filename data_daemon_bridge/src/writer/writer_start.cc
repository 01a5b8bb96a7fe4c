#include "writer/writer_start.h"

#include <cstdint>
#include <utility>

#include "concurrency/process_singleton.h"
#include "data_daemon_shared/config.h"
#include "events/events.h"
#include "writer/writer_loop.h"

namespace data_daemon_bridge {

namespace {

// The process-wide record behind the slow path.
struct WriterSingleton {
  uint32_t pid = 0;                    // the process that started the writer; 0 until then
  std::shared_ptr<WriterQueue> queue;  // the queue the running writer serves
};

WriterSingleton init_writer_singleton() { return {}; }

// writer_atfork_child as the child-side fork handler, registered by the first get_or_spawn_writer
// that misses its thread cache.
constinit ForkChildHandler WRITER_ATFORK_ONCE{
    writer_atfork_child,
    {kWriterLogTarget,
     "pthread_atfork registration failed; video writer-queue cache relies on PID heal",
     WithoutForkHandler::kCheckProcessId}};

// WRITER: the record of the calling process under its own mutex. A child never touches its
// parent's (the mutex may be held by a thread that does not exist in the child): its first
// slow-path call makes its own, and so starts a writer of its own.
constinit ProcessSingleton<WriterSingleton> WRITER{WRITER_ATFORK_ONCE, init_writer_singleton};

// WRITER_QUEUE_CACHE: the calling thread's handle, the fast path.
thread_local ThreadCache<std::shared_ptr<WriterQueue>> WRITER_QUEUE_CACHE;

constinit ThreadStartSeam WRITER_THREAD_START;

// The spool limit of a new writer. A profile refused for what it is (a FIFO, a device, too large,
// nested too deep) would otherwise go unnoticed: the fallback looks like a profile without
// spool_limit.
int64_t writer_spool_limit() {
  data_daemon_shared::SpoolLimit limit = data_daemon_shared::resolve_spool_limit();
  if (limit.refused) {
    emit_event(EventLevel::Warn, kWriterLogTarget, "profile refused; using the default spool limit",
               {{"error", limit.refused->error.display_text()}, {"path", limit.refused->path}});
  }
  return limit.bytes;
}

}  // namespace

void cache_writer_queue(std::shared_ptr<WriterQueue> queue) {
  WRITER_QUEUE_CACHE.store(std::move(queue));
}

void register_writer_atfork() { (void)WRITER_ATFORK_ONCE.register_once(); }

void writer_atfork_child() { WRITER_QUEUE_CACHE.forget_after_fork(); }

std::shared_ptr<WriterQueue> get_or_spawn_writer() {
  return WRITER.get(
      WRITER_QUEUE_CACHE,
      [](WriterSingleton& writer, uint32_t pid) -> SlowPathValue<std::shared_ptr<WriterQueue>> {
        if (writer.pid == pid && writer.queue) return {writer.queue, true};

        auto queue = std::make_shared<WriterQueue>(writer_spool_limit());
        auto started = WRITER_THREAD_START.start("qs-video-writer", kWriterStackBytes,
                                                 [queue] { writer_thread_main(queue); });
        if (!started.ok()) {
          emit_event(EventLevel::Error, kWriterLogTarget,
                     "failed to spawn video writer thread; dropping frame",
                     {{"error", started.error()}});
          return {std::move(queue), false};  // not kept: released with the caller's handle
        }
        writer.pid = pid;
        writer.queue = queue;
        return {std::move(queue), true};
      });
}

void set_writer_thread_starter_for_testing(ThreadStarter starter) {
  WRITER_THREAD_START.set_for_testing(starter);
}

}  // namespace data_daemon_bridge
