#include "writer/writer_queue.h"

#include <variant>

namespace data_daemon_bridge {

uint64_t spool_budget_for_limit(int64_t spool_limit) {
  if (spool_limit <= 0) return 0;
  uint64_t limit = static_cast<uint64_t>(spool_limit);
  return limit <= MIN_SPOOL_BUDGET ? MIN_SPOOL_BUDGET : limit;
}

WriterQueue::WriterQueue(int64_t spool_limit)
    : spool_budget_(spool_budget_for_limit(spool_limit)) {}

uint64_t WriterQueue::queued_frame_bytes() const {
  std::lock_guard lock(mutex_);
  return queued_frame_bytes_;
}

uint64_t WriterQueue::spool_bytes() const {
  std::lock_guard lock(mutex_);
  return spool_bytes_;
}

size_t WriterQueue::job_count() const {
  std::lock_guard lock(mutex_);
  return jobs_.size();
}

bool enqueue_writer_job(WriterQueue& queue, WriterJob job) {
  const VideoFrame* frame = std::get_if<VideoFrame>(&job);
  const uint64_t p = frame ? frame->payload.size() : 0;

  std::unique_lock lock(queue.mutex_);
  if (p != 0) {
    bool has_deadline = false;
    std::chrono::steady_clock::time_point deadline{};
    for (;;) {
      if (queue.spool_budget_ != 0 && queue.spool_bytes_ >= queue.spool_budget_) {
        const auto now = std::chrono::steady_clock::now();
        if (!has_deadline) {
          deadline = now + STALL_TIMEOUT;
          has_deadline = true;
        }
        if (deadline <= now) {
          lock.unlock();
          return true;  // the frame is released with job
        }
        queue.space_freed_.wait_until(lock, deadline);
        continue;
      }
      if (queue.queued_frame_bytes_ == 0 ||
          queue.queued_frame_bytes_ + p <= MAX_QUEUED_FRAME_BYTES) {
        break;
      }
      queue.space_freed_.wait(lock);
      has_deadline = false;
    }
  }
  queue.jobs_.push_back(std::move(job));  // first: should it run out of memory, nothing changed
  queue.queued_frame_bytes_ += p;
  queue.job_ready_.notify_one();
  return false;
}

std::optional<WriterJob> take_writer_job(WriterQueue& queue, std::chrono::milliseconds max_wait) {
  std::unique_lock lock(queue.mutex_);
  while (queue.jobs_.empty()) {
    if (queue.job_ready_.wait_for(lock, max_wait) == std::cv_status::timeout &&
        queue.jobs_.empty()) {
      return std::nullopt;
    }
  }
  WriterJob job = std::move(queue.jobs_.front());
  queue.jobs_.pop_front();
  if (const VideoFrame* frame = std::get_if<VideoFrame>(&job)) {
    queue.queued_frame_bytes_ -= frame->payload.size();
  }
  queue.space_freed_.notify_one();
  return job;
}

void store_spool_bytes(WriterQueue& queue, uint64_t size) {
  std::lock_guard lock(queue.mutex_);
  queue.spool_bytes_ = size;
  queue.space_freed_.notify_all();
}

}  // namespace data_daemon_bridge
