// The video writer thread "qs-video-writer": takes jobs from the writer queue for the rest of the
// process's life, has their frames compressed by the PNG threads while it writes, writes the PNGs
// into their streams' chunks strictly in arrival order, serves the flush and cancel barriers, and
// runs the idle sweep.
//
// The writer thread never holds two of its locks at once (writer queue, PNG job queue, one result
// slot, stream registry, one stream) and sends no envelope while it holds the registry or a
// stream.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>

#include "writer/frame_meta.h"
#include "writer/png_jobs.h"
#include "writer/writer_queue.h"

namespace data_daemon_bridge {

// A frame whose PNG has been asked for and which is not written yet: the metadata of its
// VideoFrame, whose pixels went to the PNG job, and the slot the PNG comes back in. Private to the
// writer thread.
struct PendingFrame {
  FrameMeta meta;
  std::shared_ptr<PngResultSlot> slot;
};

// Longest single wait for a job, and the least interval between two idle sweeps.
inline constexpr std::chrono::milliseconds WRITER_TICK{250};
// Frames left pending (compressing) when the writer goes back to the queue; at one more it
// blocks on the oldest.
inline constexpr size_t MAX_PENDING_PNG_JOBS = 7;

// PNG threads for a count of online processors: half of them, held between 2 and 4; 2 when the
// count is unknown (0 or negative).
size_t png_thread_count(long online_processors);

// Body of the writer thread: starts the PNG threads, then runs the loop. Never returns.
[[noreturn]] void writer_thread_main(std::shared_ptr<WriterQueue> queue);

// The loop over a queue and a PNG job queue. A null png_queue means no compression thread could
// be started: the writer then encodes each frame itself, so it never waits for a PNG that no
// thread will produce. Never returns.
[[noreturn]] void run_writer_loop(std::shared_ptr<WriterQueue> queue,
                                  std::shared_ptr<PngJobQueue> png_queue);

// Measures the spool directory (0 when the recordings root is unresolved) with no lock held, then
// stores the size and wakes every producer waiting for spool space. Nothing without a budget.
// Memory that runs out costs the measurement (WARN "out of memory; dropping spool measurement"):
// the last size stands.
void refresh_spool_usage(WriterQueue& queue);

// The loop's state and one iteration, for run_writer_loop and for tests that drive the writer
// step by step on their own thread. Owned by one thread.
//
// Nothing leaves start() or iterate() as an exception. Memory that runs out costs the item at
// hand, with a WARN event: a frame ("out of memory; dropping frame"), a chunk ("...; dropping
// chunk": sealed, or taken out of its stream, but not announced; its file stays), a flush's
// SourceFlushed ("...; dropping flush marker") or one idle sweep's seals ("...; skipping idle
// sweep"). A barrier is still served and answered; should its answer find no memory, its reply
// end is released unanswered, which ends the caller's wait as well. Whatever else escapes a step
// is logged ("video writer step failed; going on", field error), and the next step runs.
class WriterLoop {
 public:
  WriterLoop(std::shared_ptr<WriterQueue> queue, std::shared_ptr<PngJobQueue> png_queue);

  // Measures the spool once when a budget is set; call before the first iteration.
  void start();

  // Takes one job (waiting up to WRITER_TICK), serves it, writes out the frames whose PNG is
  // ready, and runs the idle sweep when WRITER_TICK has passed since the last one.
  void iterate();

  // Frames whose PNG was asked for and which are not written yet.
  size_t pending() const { return pending_.size(); }

  // Seals every open chunk that received no frame since the previous sweep and started at least
  // CHUNK_MAX_SPAN_NS ago (publish clock), then measures the spool when a budget is set.
  // iterate() runs it once WRITER_TICK has passed since the last one.
  void idle_sweep();

 private:
  void serve(WriterJob job);
  void serve_frame(VideoFrame frame);
  // Hands the frame's pixels to a compression thread (or encodes them here) and appends its
  // pending entry. Throws std::bad_alloc when memory runs out: the frame is then lost whole (no
  // entry; a job already handed over makes a PNG nobody takes), and frame.meta is still whole.
  void hand_over(VideoFrame& frame);
  void serve_flush(FlushSource barrier);
  void serve_cancel(CancelSource barrier);
  void harvest();
  void write_oldest_waiting();
  void drain_window();
  void write_pending(PendingFrame frame, PngOutcome outcome);

  std::shared_ptr<WriterQueue> queue_;
  std::shared_ptr<PngJobQueue> png_queue_;  // null: encode on this thread
  std::deque<PendingFrame> pending_;        // oldest first, at most MAX_PENDING_PNG_JOBS + 1
  std::chrono::steady_clock::time_point last_sweep_;
};

}  // namespace data_daemon_bridge
