// WriterQueue: the one FIFO through which frames and barriers reach the video writer thread,
// with its two kinds of admission backpressure.
//
// Producers (Python threads in log_frame, flush_source, cancel_recording, interpreter lock
// released) call enqueue_writer_job; the writer thread is the only consumer (take_writer_job)
// and the only one that stores spool measurements. The queue is shared by reference count; it
// lives as long as any holder keeps it. Its mutex is never held together with the writer
// singleton's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "writer/writer_job.h"

namespace data_daemon_bridge {

// Raw pixel bytes that may wait for the writer, except that one frame is always admitted into a
// queue holding no frame bytes.
inline constexpr uint64_t MAX_QUEUED_FRAME_BYTES = 268'435'456;
// The smallest non-zero spool budget.
inline constexpr uint64_t MIN_SPOOL_BUDGET = 536'870'912;
// How long a frame may wait, in all, for the spool to fall below its budget.
inline constexpr std::chrono::milliseconds STALL_TIMEOUT{1000};

// The budget for a signed spool limit: 0 (no spool backpressure) for a limit <= 0, at least
// MIN_SPOOL_BUDGET otherwise.
uint64_t spool_budget_for_limit(int64_t spool_limit);

class WriterQueue {
 public:
  // The budget is fixed here, from the limit the creator read once.
  explicit WriterQueue(int64_t spool_limit);

  WriterQueue(const WriterQueue&) = delete;
  WriterQueue& operator=(const WriterQueue&) = delete;

  uint64_t spool_budget() const { return spool_budget_; }

  // Snapshots for observers; each takes the mutex.
  uint64_t queued_frame_bytes() const;
  uint64_t spool_bytes() const;
  size_t job_count() const;

 private:
  friend bool enqueue_writer_job(WriterQueue& queue, WriterJob job);
  friend std::optional<WriterJob> take_writer_job(WriterQueue& queue,
                                                  std::chrono::milliseconds max_wait);
  friend void store_spool_bytes(WriterQueue& queue, uint64_t size);

  const uint64_t spool_budget_;  // 0 = no spool backpressure; never changes

  mutable std::mutex mutex_;
  std::deque<WriterJob> jobs_;       // guarded by mutex_
  uint64_t queued_frame_bytes_ = 0;  // guarded by mutex_; payload bytes of the frames in jobs_
  uint64_t spool_bytes_ = 0;         // guarded by mutex_; last measured spool size (writer only)
  // Producers wait on it; signalled once per removed job, broadcast after each measurement.
  std::condition_variable space_freed_;
  // The writer waits on it; signalled once per admitted job.
  std::condition_variable job_ready_;
};

// Admits the job at the back of the queue (false) or, for a frame only, rejects it after the
// spool stayed at or over budget for STALL_TIMEOUT (true; the frame is released).
//
// A frame first waits, up to STALL_TIMEOUT in all, while the last measured spool size is at or
// over the budget, then without a deadline while the queued frame bytes plus its own would exceed
// MAX_QUEUED_FRAME_BYTES; a wait on the memory cap clears the spool deadline, and the spool test
// comes first again after every wake-up. A barrier is appended at once, whatever the queue holds.
// Any thread except the writer's own may call.
bool enqueue_writer_job(WriterQueue& queue, WriterJob job);

// Writer thread only. Removes the front job, waiting while the queue is empty; a wait that ends
// early and finds nothing waits again up to max_wait, one that times out looks once more and
// gives nullopt. Each removal signals one waiting producer.
std::optional<WriterJob> take_writer_job(WriterQueue& queue, std::chrono::milliseconds max_wait);

// Writer thread only. Stores a new spool measurement and wakes every waiting producer.
void store_spool_bytes(WriterQueue& queue, uint64_t size);

}  // namespace data_daemon_bridge
