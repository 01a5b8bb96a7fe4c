// The PNG compression threads "qs-png-compress-{index}": a small pool, started once by the
// writer thread, that encodes the writer's frames while the writer writes.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "data_daemon_shared/result.h"
#include "writer/png_jobs.h"

namespace data_daemon_bridge {

inline constexpr size_t PNG_WORKER_STACK_BYTES = 2 * 1024 * 1024;

// How a thread is started: name, stack size, body; an error carries the system error's text.
// The default is port::start_detached_thread; tests put in one that fails.
using ThreadStarter =
    std::function<data_daemon_shared::Result<data_daemon_shared::Unit, std::string>(
        std::string name, size_t stack_bytes, std::function<void()> body)>;

// Creates the job queue and starts count detached threads "qs-png-compress-0", "-1", ...
// running png_worker_loop. A thread that cannot be started is logged (WARN "failed to spawn PNG
// compression worker" with field error) and skipped: no retry, its index is not reused. Returns
// the queue whether or not any thread started, with its worker_count(); with none, nothing
// ever takes its jobs.
std::shared_ptr<PngJobQueue> spawn_png_workers(size_t count);
std::shared_ptr<PngJobQueue> spawn_png_workers(size_t count, const ThreadStarter& start);

// Tests: how spawn_png_workers(count), the writer thread's own start of the pool, starts each
// thread; nullptr restores the platform's. Set it before the writer thread starts.
using PngThreadStarterForTesting =
    data_daemon_shared::Result<data_daemon_shared::Unit, std::string> (*)(
        std::string name, size_t stack_bytes, std::function<void()> body);
void set_png_thread_starter_for_testing(PngThreadStarterForTesting starter);

// The body of every compression thread: takes jobs without end and runs each. Never returns.
[[noreturn]] void png_worker_loop(std::shared_ptr<PngJobQueue> queue);

// Encodes one job on the calling thread, with that thread's PNG scratch, and delivers the PNG to
// the job's slot. A broken invariant while converting or encoding (a wrong-sized buffer, a
// compressor error) or running out of memory delivers a PngFailure instead; the calling thread
// goes on.
void run_png_job(PngJob job);

}  // namespace data_daemon_bridge
