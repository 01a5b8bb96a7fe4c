#include "writer/png_workers.h"

#include <exception>
#include <new>
#include <string>
#include <vector>

#include "depth/depth_to_rgb24.h"
#include "events/events.h"
#include "png/png_encoder.h"

namespace data_daemon_bridge {

using data_daemon_shared::FrameDtype;

namespace {

constinit ThreadStartSeam PNG_THREAD_START;

PngOutcome encode_job(const PngJob& job) {
  std::vector<uint8_t> converted;
  std::span<const uint8_t> image = job.pixels;
  const FrameLayout& layout = job.layout;
  if (layout.dtype != FrameDtype::Rgb8) {
    converted = depth_to_rgb24(layout.dtype, layout.width, layout.height, job.pixels);
    image = converted;
  }
  PngScratch& scratch = thread_png_scratch();
  uint64_t n = encode_png_rgb24(scratch, layout.width, layout.height, image);
  return PixelBytes(std::span(scratch.png).first(n));
}

// Starts thread `index`. Memory that runs out before it starts (its name, its body) is a failed
// start like any other: the thread does not exist then, and the pool goes on without it.
data_daemon_shared::Result<data_daemon_shared::Unit, std::string> start_png_worker(
    const std::shared_ptr<PngJobQueue>& queue, size_t index, ThreadStarter start) {
  try {
    return start("qs-png-compress-" + std::to_string(index), kPngWorkerStackBytes,
                 [queue] { png_worker_loop(queue); });
  } catch (const std::bad_alloc&) {
    return data_daemon_shared::Err(std::string(kPngFailureOutOfMemory));
  }
}

}  // namespace

void run_png_job(PngJob job) {
  // The thread outlives a failed frame: the next image resets the scratch. Out of memory too:
  // the failure is made without a throw (png_failure).
  try {
    job.deliver(encode_job(job));
  } catch (const std::exception& e) {
    job.deliver(data_daemon_shared::Err(png_failure(e.what())));
  }
}

[[noreturn]] void png_worker_loop(std::shared_ptr<PngJobQueue> queue) {
  for (;;) run_png_job(queue->pop());
}

std::shared_ptr<PngJobQueue> spawn_png_workers(size_t count) {
  return spawn_png_workers(count, PNG_THREAD_START.starter());
}

void set_png_thread_starter_for_testing(ThreadStarter starter) {
  PNG_THREAD_START.set_for_testing(starter);
}

std::shared_ptr<PngJobQueue> spawn_png_workers(size_t count, ThreadStarter start) {
  auto queue = std::make_shared<PngJobQueue>();
  for (size_t i = 0; i < count; ++i) {
    if (auto started = start_png_worker(queue, i, start); started) {
      queue->add_worker();
    } else {
      emit_event_nothrow(EventLevel::Warn, kWriterLogTarget,
                         "failed to spawn PNG compression worker", [&] {
                           return std::vector<EventField>{{"error", started.error()}};
                         });
    }
  }
  return queue;
}

}  // namespace data_daemon_bridge
