// Starting the video writer: the process's WriterQueue and its thread "qs-video-writer", created
// on first use, behind a per-thread cache (lock-free after a thread's first call) and the
// process-wide singleton WRITER, both healed after a fork.
//
// Fork: a child never uses its parent's writer. The forking thread's cache is emptied in the
// child by a fork handler (or, if that handler could not be registered, the cache notices the
// other process id itself); WRITER remembers the process that created it, and a child creates its
// own instead of touching the inherited one, whose lock a parent thread may have held at the
// fork.
#pragma once

#include <cstddef>
#include <memory>

#include "concurrency/thread_start_seam.h"
#include "writer/writer_queue.h"

namespace data_daemon_bridge {

inline constexpr size_t kWriterStackBytes = 2 * 1024 * 1024;

// The process's queue, starting the writer thread when none runs in this process. When the
// thread cannot be started (logged as an ERROR), the queue returned is one no thread serves and
// nobody else holds: a job queued on it is released with the caller's handle (a frame is lost, a
// barrier's waiter is released unanswered), and the next call tries again. Any thread, with the
// interpreter lock released. A new queue's spool budget comes from the effective spool limit; a
// profile refused on the way (not a regular file, too large, nested too deep) is logged as the
// WARN "profile refused; using the default spool limit" (fields error, path). Throws
// data_daemon_shared::Panic when the spool limit cannot be read (a named profile but no home
// directory); nothing is kept then.
std::shared_ptr<WriterQueue> get_or_spawn_writer();

// Stores another handle to queue in the calling thread's cache, releasing the one held before.
void cache_writer_queue(std::shared_ptr<WriterQueue> queue);

// Registers writer_atfork_child as the child-side fork handler; only the first call in a process
// does anything (a thread that arrives meanwhile waits for it). A failed registration logs the WARN
// "pthread_atfork registration failed; video writer-queue cache relies on PID heal" (field errno)
// and is not retried: thread caches then keep the process id they were filled in, and a child's
// thread that finds its parent's queue there lets go of it and takes the slow path.
void register_writer_atfork();

// In a forked child, on the forking thread: empties that thread's cache without releasing the
// parent's queue.
void writer_atfork_child();

// Tests: how the writer thread is started; nullptr restores the platform's. Set it while no other
// thread calls get_or_spawn_writer.
void set_writer_thread_starter_for_testing(ThreadStarter starter);

}  // namespace data_daemon_bridge
