// The PNG compression threads "qs-png-compress-{index}": a small pool, started once by the
// writer thread, that encodes the writer's frames while the writer writes.
#pragma once

#include <cstddef>
#include <memory>

#include "concurrency/thread_start_seam.h"
#include "writer/png_jobs.h"

namespace data_daemon_bridge {

inline constexpr size_t kPngWorkerStackBytes = 2 * 1024 * 1024;

// Creates the job queue and starts count detached threads "qs-png-compress-0", "-1", ...
// running png_worker_loop. A thread that cannot be started (memory that runs out before it starts
// included, error "out of memory") is logged (WARN "failed to spawn PNG compression worker" with
// field error) and skipped: no retry, its index is not reused. Throws std::bad_alloc only when
// there is no memory for the queue itself, before any thread is started. Returns
// the queue whether or not any thread started, with its worker_count(); with none, nothing
// ever takes its jobs. Threads are started with `start`; without it (the writer thread's own
// start of the pool) the way set_png_thread_starter_for_testing chose, by default the platform's.
std::shared_ptr<PngJobQueue> spawn_png_workers(size_t count);
std::shared_ptr<PngJobQueue> spawn_png_workers(size_t count, ThreadStarter start);

// Tests: how spawn_png_workers(count) starts each thread; nullptr restores the platform's. Set it
// before the writer thread starts.
void set_png_thread_starter_for_testing(ThreadStarter starter);

// The body of every compression thread: takes jobs without end and runs each. Never returns.
[[noreturn]] void png_worker_loop(std::shared_ptr<PngJobQueue> queue);

// Encodes one job on the calling thread, with that thread's PNG scratch, and delivers the PNG to
// the job's slot. A broken invariant while converting or encoding (a wrong-sized buffer, a
// compressor error) or running out of memory delivers a PngFailure instead (its reason
// "out of memory" should there be no memory for the text); nothing is thrown, and the calling
// thread goes on.
void run_png_job(PngJob job);

}  // namespace data_daemon_bridge
