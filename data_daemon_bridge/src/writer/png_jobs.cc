#include "writer/png_jobs.h"

#include <new>
#include <utility>

namespace data_daemon_bridge {

namespace {

constexpr const char* kReleasedUnencoded = "the frame's compression job ended without a result";

}  // namespace

PngFailure png_failure(std::string_view reason) noexcept {
  try {
    return PngFailure{std::string(reason)};
  } catch (const std::bad_alloc&) {
    return PngFailure{std::string(kPngFailureOutOfMemory)};
  }
}

void PngResultSlot::store(PngOutcome outcome) {
  {
    std::lock_guard lock(mutex_);
    outcome_.emplace(std::move(outcome));
  }
  stored_.notify_one();
}

std::optional<PngOutcome> PngResultSlot::try_take() {
  std::lock_guard lock(mutex_);
  std::optional<PngOutcome> taken = std::move(outcome_);
  outcome_.reset();
  return taken;
}

PngOutcome PngResultSlot::wait_take() {
  std::unique_lock lock(mutex_);
  stored_.wait(lock, [this] { return outcome_.has_value(); });
  PngOutcome taken = std::move(*outcome_);
  outcome_.reset();
  return taken;
}

PngJob::PngJob(PixelBytes pixels, std::shared_ptr<PngResultSlot> slot, FrameLayout layout)
    : pixels(std::move(pixels)), layout(layout), slot_(std::move(slot)) {}

PngJob::~PngJob() { release_slot(); }

PngJob& PngJob::operator=(PngJob&& other) noexcept {
  if (this != &other) {
    release_slot();
    pixels = std::move(other.pixels);
    layout = other.layout;
    slot_ = std::move(other.slot_);
  }
  return *this;
}

void PngJob::deliver(PngOutcome outcome) {
  if (!slot_) return;
  std::shared_ptr<PngResultSlot> slot = std::move(slot_);
  slot->store(std::move(outcome));
}

void PngJob::release_slot() {
  // A destructor's work: the failure's text must not throw.
  if (slot_) deliver(data_daemon_shared::Err(png_failure(kReleasedUnencoded)));
}

void PngJobQueue::push(PngJob job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  job_added_.notify_one();
}

PngJob PngJobQueue::pop() {
  std::unique_lock lock(mutex_);
  job_added_.wait(lock, [this] { return !jobs_.empty(); });
  PngJob job = std::move(jobs_.front());
  jobs_.pop_front();
  return job;
}

}  // namespace data_daemon_bridge
