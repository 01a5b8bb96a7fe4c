#include "writer/png_workers.h"

#include <exception>
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

}  // namespace

void run_png_job(PngJob job) {
  // The thread outlives a failed frame: the next image resets the scratch.
  try {
    job.deliver(encode_job(job));
  } catch (const std::exception& e) {
    job.deliver(data_daemon_shared::Err(PngFailure{e.what()}));
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
    auto started = start("qs-png-compress-" + std::to_string(i), kPngWorkerStackBytes,
                         [queue] { png_worker_loop(queue); });
    if (started) {
      queue->add_worker();
    } else {
      emit_event(EventLevel::Warn, kWriterLogTarget, "failed to spawn PNG compression worker",
                 {{"error", started.error()}});
    }
  }
  return queue;
}

}  // namespace data_daemon_bridge
