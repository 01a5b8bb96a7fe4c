#include "writer/writer_loop.h"

#include <unistd.h>

#include <algorithm>
#include <variant>

#include "clock/publish_clock.h"
#include "data_daemon_shared/spool.h"
#include "events/events.h"
#include "writer/png_workers.h"
#include "writer/recordings_root.h"
#include "writer/saturating.h"
#include "writer/seal_chunk.h"
#include "writer/stream_key.h"
#include "writer/stream_registry.h"
#include "writer/stream_state.h"
#include "writer/video_records.h"
#include "writer/write_stream_frame.h"

namespace data_daemon_bridge {

using data_daemon_shared::frame_dtype_name;

size_t png_thread_count(long online_processors) {
  if (online_processors <= 0) return 2;
  return std::clamp<size_t>(static_cast<size_t>(online_processors) / 2, 2, 4);
}

[[noreturn]] void writer_thread_main(std::shared_ptr<WriterQueue> queue) {
  std::shared_ptr<PngJobQueue> png_queue =
      spawn_png_workers(png_thread_count(sysconf(_SC_NPROCESSORS_ONLN)));
  // Without a single compression thread nothing would ever fill a slot: encode here instead.
  if (png_queue->worker_count() == 0) png_queue.reset();
  run_writer_loop(std::move(queue), std::move(png_queue));
}

[[noreturn]] void run_writer_loop(std::shared_ptr<WriterQueue> queue,
                                  std::shared_ptr<PngJobQueue> png_queue) {
  WriterLoop loop(std::move(queue), std::move(png_queue));
  loop.start();
  for (;;) loop.iterate();
}

void refresh_spool_usage(WriterQueue& queue) {
  if (queue.spool_budget() == 0) return;
  std::optional<std::string> spool = spool_root();
  const uint64_t size = spool ? data_daemon_shared::dir_size_bytes(*spool) : 0;
  store_spool_bytes(queue, size);
}

WriterLoop::WriterLoop(std::shared_ptr<WriterQueue> queue, std::shared_ptr<PngJobQueue> png_queue)
    : queue_(std::move(queue)),
      png_queue_(std::move(png_queue)),
      last_sweep_(std::chrono::steady_clock::now()) {}

void WriterLoop::start() {
  refresh_spool_usage(*queue_);
  last_sweep_ = std::chrono::steady_clock::now();
}

void WriterLoop::iterate() {
  if (std::optional<WriterJob> job = take_writer_job(*queue_, WRITER_TICK)) {
    std::visit(
        [this](auto&& served) {
          using T = std::decay_t<decltype(served)>;
          if constexpr (std::is_same_v<T, VideoFrame>) {
            serve_frame(std::move(served));
          } else if constexpr (std::is_same_v<T, FlushSource>) {
            serve_flush(std::move(served));
          } else {
            serve_cancel(std::move(served));
          }
        },
        std::move(*job));
  }
  harvest();
  if (std::chrono::steady_clock::now() - last_sweep_ >= WRITER_TICK) idle_sweep();
}

void WriterLoop::serve_frame(VideoFrame frame) {
  const FrameMeta& meta = frame.meta;
  // width * height fits in 64 bits; only the last product can overflow.
  uint64_t expected = 0;
  const FrameLayout& layout = meta.layout;
  const bool overflow = __builtin_mul_overflow(uint64_t{layout.width} * layout.height,
                                               bytes_per_pixel(layout.dtype), &expected);
  if (overflow || expected != frame.payload.size()) {
    std::vector<EventField> fields{{"sensor_name", meta.name}};
    if (!overflow) fields.push_back({"expected", std::to_string(expected)});
    fields.push_back({"actual", std::to_string(frame.payload.size())});
    fields.push_back({"dtype", std::string(frame_dtype_name(layout.dtype))});
    emit_event(EventLevel::Warn, kWriterLogTarget,
               "video frame size disagrees with geometry; dropping frame", std::move(fields));
    return;
  }

  auto slot = std::make_shared<PngResultSlot>();
  PngJob job(std::move(frame.payload), slot, layout);
  if (png_queue_) {
    png_queue_->push(std::move(job));
  } else {
    run_png_job(std::move(job));
  }
  pending_.push_back(PendingFrame{.meta = std::move(frame.meta), .slot = std::move(slot)});
  while (pending_.size() > MAX_PENDING_PNG_JOBS) write_oldest_waiting();
}

void WriterLoop::harvest() {
  while (!pending_.empty()) {
    std::optional<PngOutcome> outcome = pending_.front().slot->try_take();
    if (!outcome) return;  // frames behind the oldest wait their turn, ready or not
    PendingFrame frame = std::move(pending_.front());
    pending_.pop_front();
    write_pending(std::move(frame), std::move(*outcome));
  }
}

void WriterLoop::write_oldest_waiting() {
  PendingFrame frame = std::move(pending_.front());
  pending_.pop_front();
  PngOutcome outcome = frame.slot->wait_take();
  write_pending(std::move(frame), std::move(outcome));
}

void WriterLoop::drain_window() {
  while (!pending_.empty()) write_oldest_waiting();
}

void WriterLoop::write_pending(PendingFrame frame, PngOutcome outcome) {
  if (!outcome.ok()) {
    emit_event(EventLevel::Warn, kWriterLogTarget, "failed to compress video frame; dropping frame",
               {{"error", outcome.error().reason}, {"sensor_name", frame.meta.name}});
    return;
  }
  write_stream_frame(frame.meta, outcome.value());
}

void WriterLoop::serve_flush(FlushSource barrier) {
  drain_window();
  std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>> streams;
  {
    auto registry = lock_stream_registry();
    streams = take_streams(
        *registry,
        stream_keys_with_prefix(*registry, source_key(barrier.robot_id, barrier.robot_instance)));
  }
  for (auto& [key, stream] : streams) {
    StreamKeyParts parts = parse_stream_key(key);
    std::optional<data_daemon_shared::Envelope> record;
    {
      std::lock_guard lock(stream->mutex);
      record = seal_chunk(stream->state, barrier.robot_id, barrier.robot_instance, parts.data_type,
                          parts.name);
    }
    if (record) send_video_record(std::move(*record));
  }
  streams.clear();  // the states, out of the registry, end here
  send_video_record(data_daemon_shared::SourceFlushed{
      .robot_id = barrier.robot_id,
      .robot_instance = barrier.robot_instance,
      .publish_timestamp_ns = publish_clock_ns(),
      .producer_pid = static_cast<uint32_t>(getpid()),
  });
  (void)barrier.reply.send(data_daemon_shared::Unit{});  // a waiter that is gone changes nothing
}

void WriterLoop::serve_cancel(CancelSource barrier) {
  drain_window();
  {
    auto registry = lock_stream_registry();
    // The states end right here, under the registry lock: an open chunk is neither finished nor
    // announced; its buffered bytes are written out and its file, closed, stays on disk.
    std::vector<std::string> keys =
        stream_keys_with_prefix(*registry, source_key(barrier.robot_id, barrier.robot_instance));
    for (const std::string& key : keys) registry->streams.erase(key);
  }
  (void)barrier.reply.send(data_daemon_shared::Unit{});  // a waiter that is gone changes nothing
}

void WriterLoop::idle_sweep() {
  const int64_t now = publish_clock_ns();
  std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>> streams;
  {
    auto registry = lock_stream_registry();
    streams = snapshot_streams(*registry);
  }
  for (auto& [key, stream] : streams) {
    StreamKeyParts parts = parse_stream_key(key);
    std::optional<data_daemon_shared::Envelope> record;
    {
      std::lock_guard lock(stream->mutex);
      StreamState& state = stream->state;
      const bool written = std::exchange(state.written_since_sweep, false);
      if (state.chunk && !written &&
          saturating_sub(now, state.chunk_start_ns) >= CHUNK_MAX_SPAN_NS) {
        record =
            seal_chunk(state, parts.robot_id, parts.robot_instance, parts.data_type, parts.name);
      }
    }
    if (record) send_video_record(std::move(*record));
  }
  streams.clear();
  refresh_spool_usage(*queue_);
  last_sweep_ = std::chrono::steady_clock::now();
}

}  // namespace data_daemon_bridge
