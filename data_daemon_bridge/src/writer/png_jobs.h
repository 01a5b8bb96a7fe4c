// The hand-over between the writer thread and the PNG compression threads: PngJob (one frame
// to encode), PngJobQueue (the FIFO the threads take jobs from) and PngResultSlot (where one
// frame's PNG, or its failure, comes back).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"
#include "writer/frame_meta.h"
#include "writer/pixel_bytes.h"

namespace data_daemon_bridge {

// Why a frame has no PNG: the text of the broken invariant that aborted its encoding.
struct PngFailure {
  std::string reason;
};

// The reason a failure carries when its own text could not be copied for want of memory.
// Short enough for std::string's inline buffer (15 characters in libstdc++, more elsewhere), so
// that making it allocates nothing.
inline constexpr std::string_view kPngFailureOutOfMemory = "out of memory";
static_assert(kPngFailureOutOfMemory.size() <= 15);

// A failure with the given reason, or with kPngFailureOutOfMemory when there is no memory for a
// copy of it. For code that must not throw: a destructor, an exception handler.
PngFailure png_failure(std::string_view reason) noexcept;

// What a slot hands the writer: the complete PNG file, or the frame's failure.
using PngOutcome = data_daemon_shared::Result<PixelBytes, PngFailure>;

// One frame's result. Shared by exactly two holders: the frame's PngJob (its compression thread
// stores once) and the writer's pending entry (the writer is the only one who takes or waits).
// Every frame handed over gets an outcome: its PNG, or a failure when encoding aborted or the
// job was released unencoded, so a wait on a slot ends once its job has been taken or dropped.
class PngResultSlot {
 public:
  // Compression thread: stores the outcome (replacing one the writer left, which it never does)
  // and then signals once.
  void store(PngOutcome outcome);

  // Writer: takes the outcome if it is there, leaving the slot empty; never waits.
  std::optional<PngOutcome> try_take();

  // Writer: waits without a deadline until an outcome is stored, then takes it.
  PngOutcome wait_take();

 private:
  std::mutex mutex_;
  std::condition_variable stored_;     // signalled once per store
  std::optional<PngOutcome> outcome_;  // guarded by mutex_
};

// One frame to encode. Moved from the writer into the queue and from the queue into one
// compression thread. A job released without an outcome stored (its thread aborted, or the
// job was dropped unencoded) stores a PngFailure in its slot, so no wait on the slot is left
// without an answer.
class PngJob {
 public:
  PngJob(PixelBytes pixels, std::shared_ptr<PngResultSlot> slot, FrameLayout layout);
  ~PngJob();
  PngJob(PngJob&&) noexcept = default;
  PngJob& operator=(PngJob&&) noexcept;
  PngJob(const PngJob&) = delete;
  PngJob& operator=(const PngJob&) = delete;

  // The payload as received: RGB24 for Rgb8, little-endian depth samples otherwise; exactly
  // width × height × bytes_per_pixel(dtype) bytes of layout.
  PixelBytes pixels;
  FrameLayout layout;

  // Stores the outcome in the slot and lets go of it. REQUIRES: not delivered before.
  void deliver(PngOutcome outcome);

 private:
  void release_slot();

  std::shared_ptr<PngResultSlot> slot_;  // null once delivered
};

// The jobs waiting for a compression thread: one producer (the writer), any number of
// consumers. Shared by the writer and every compression thread; lives until the process ends.
class PngJobQueue {
 public:
  // Writer: appends under the mutex, then signals once, after unlocking, so one idle thread
  // wakes per job. No bound: the writer keeps at most 8 jobs outstanding.
  void push(PngJob job);

  // Compression thread: waits without a deadline until a job is queued and removes the
  // oldest. Jobs leave in FIFO order; they may finish in any order.
  PngJob pop();

  // How many compression threads take jobs from this queue; final once spawn_png_workers has
  // returned. With none, a job pushed here is never encoded: the writer must encode itself
  // (run_png_job) rather than wait.
  size_t worker_count() const { return workers_.load(std::memory_order_acquire); }
  void add_worker() { workers_.fetch_add(1, std::memory_order_acq_rel); }

 private:
  std::atomic<size_t> workers_{0};
  std::mutex mutex_;
  std::condition_variable job_added_;  // signalled once per push
  std::deque<PngJob> jobs_;            // guarded by mutex_
};

}  // namespace data_daemon_bridge
