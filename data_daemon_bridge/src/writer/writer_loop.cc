#include "writer/writer_loop.h"

#include <unistd.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string_view>
#include <variant>

#include "clock/publish_clock.h"
#include "concurrency/loop_guard.h"
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
#include "writer/writer_drops.h"

namespace data_daemon_bridge {

using data_daemon_shared::frame_dtype_name;

namespace {

constexpr std::string_view kWriterStepFailed = "video writer step failed; going on";

std::vector<EventField> no_fields() { return {}; }

// Answers a barrier's caller; a caller who is gone changes nothing. Should the answer find no
// memory, the reply end, released with the barrier, ends the wait all the same, unanswered.
void answer(const ReplySender& reply) {
  try {
    (void)reply.send(data_daemon_shared::Unit{});
  } catch (const std::bad_alloc&) {
  }
}

// Seals the stream's open chunk when due(state) holds, under the stream's mutex, and sends its
// announcement once the mutex is released. Nothing before seal_chunk allocates, so memory that
// runs out here costs exactly that chunk (kChunkOutOfMemory); the state is left without it.
template <class Due>
void seal_and_announce(SharedStream& stream, std::string_view robot_id, int64_t robot_instance,
                       std::string_view data_type, std::string_view name, Due&& due) {
  (void)drop_on_out_of_memory(kChunkOutOfMemory, name, [&] {
    std::optional<data_daemon_shared::Envelope> record;
    {
      std::lock_guard lock(stream.mutex);
      if (due(stream.state)) {
        record = seal_chunk(stream.state, robot_id, robot_instance, data_type, name);
      }
    }
    if (record) send_video_record(std::move(*record));
  });
}

}  // namespace

size_t png_thread_count(long online_processors) {
  if (online_processors <= 0) return 2;
  return std::clamp<size_t>(static_cast<size_t>(online_processors) / 2, 2, 4);
}

[[noreturn]] void writer_thread_main(std::shared_ptr<WriterQueue> queue) {
  std::shared_ptr<PngJobQueue> png_queue;
  run_loop_step(kWriterLogTarget, kWriterStepFailed, [&] {
    png_queue = spawn_png_workers(png_thread_count(sysconf(_SC_NPROCESSORS_ONLN)));
  });
  // Without a queue, or without a single compression thread, nothing would ever fill a slot:
  // encode here instead.
  if (png_queue && png_queue->worker_count() == 0) png_queue.reset();
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
  (void)drop_on_out_of_memory(
      kWriterLogTarget, "out of memory; dropping spool measurement", no_fields, [&] {
        std::optional<std::string> spool = spool_root();
        const uint64_t size = spool ? data_daemon_shared::dir_size_bytes(*spool) : 0;
        store_spool_bytes(queue, size);
      });
}

WriterLoop::WriterLoop(std::shared_ptr<WriterQueue> queue, std::shared_ptr<PngJobQueue> png_queue)
    : queue_(std::move(queue)),
      png_queue_(std::move(png_queue)),
      last_sweep_(std::chrono::steady_clock::now()) {}

void WriterLoop::start() {
  run_loop_step(kWriterLogTarget, kWriterStepFailed, [this] { refresh_spool_usage(*queue_); });
  last_sweep_ = std::chrono::steady_clock::now();
}

void WriterLoop::iterate() {
  // Each step on its own: what one of them loses leaves the others to run.
  run_loop_step(kWriterLogTarget, kWriterStepFailed, [this] {
    if (std::optional<WriterJob> job = take_writer_job(*queue_, WRITER_TICK)) {
      serve(std::move(*job));
    }
  });
  run_loop_step(kWriterLogTarget, kWriterStepFailed, [this] { harvest(); });
  if (std::chrono::steady_clock::now() - last_sweep_ >= WRITER_TICK) {
    run_loop_step(kWriterLogTarget, kWriterStepFailed, [this] { idle_sweep(); });
  }
}

void WriterLoop::serve(WriterJob job) {
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
      std::move(job));
}

void WriterLoop::serve_frame(VideoFrame frame) {
  const FrameMeta& meta = frame.meta;
  // width * height fits in 64 bits; only the last product can overflow.
  uint64_t expected = 0;
  const FrameLayout& layout = meta.layout;
  const bool overflow = __builtin_mul_overflow(uint64_t{layout.width} * layout.height,
                                               bytes_per_pixel(layout.dtype), &expected);
  if (overflow || expected != frame.payload.size()) {
    emit_event_nothrow(EventLevel::Warn, kWriterLogTarget,
                       "video frame size disagrees with geometry; dropping frame", [&] {
                         std::vector<EventField> fields{{"sensor_name", meta.name}};
                         if (!overflow) fields.push_back({"expected", std::to_string(expected)});
                         fields.push_back({"actual", std::to_string(frame.payload.size())});
                         fields.push_back({"dtype", std::string(frame_dtype_name(layout.dtype))});
                         return fields;
                       });
    return;
  }

  (void)drop_on_out_of_memory(kFrameOutOfMemory, frame.meta.name, [&] { hand_over(frame); });
  while (pending_.size() > MAX_PENDING_PNG_JOBS) write_oldest_waiting();
}

void WriterLoop::hand_over(VideoFrame& frame) {
  auto slot = std::make_shared<PngResultSlot>();
  PngJob job(std::move(frame.payload), slot, frame.meta.layout);
  if (png_queue_) {
    png_queue_->push(std::move(job));
  } else {
    run_png_job(std::move(job));
  }
  // The entry is made first, then filled by moves that cannot fail: frame.meta stays whole for
  // the WARN should there be no memory for the entry.
  PendingFrame& entry = pending_.emplace_back();
  entry.meta = std::move(frame.meta);
  entry.slot = std::move(slot);
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
    emit_event_nothrow(EventLevel::Warn, kWriterLogTarget,
                       "failed to compress video frame; dropping frame", [&] {
                         return std::vector<EventField>{{"error", outcome.error().reason},
                                                        {"sensor_name", frame.meta.name}};
                       });
    return;
  }
  write_stream_frame(frame.meta, outcome.value());
}

void WriterLoop::serve_flush(FlushSource barrier) {
  drain_window();
  // The source's streams leave the registry one at a time, each without an allocation: memory
  // that runs out costs a chunk, never the barrier, and no chunk of the source is left open
  // behind its SourceFlushed.
  for (;;) {
    StreamMap::node_type taken;
    {
      auto registry = lock_stream_registry();
      taken = take_source_stream(*registry, barrier.robot_id, barrier.robot_instance);
    }
    if (taken.empty()) break;
    const StreamKeyView parts = view_stream_key(taken.key());
    seal_and_announce(*taken.mapped(), barrier.robot_id, barrier.robot_instance, parts.data_type,
                      parts.name, [](const StreamState&) { return true; });
    // The state, out of the registry, ends here.
  }
  (void)drop_on_out_of_memory(
      kWriterLogTarget, "out of memory; dropping flush marker",
      [&] {
        return std::vector<EventField>{{"robot_id", barrier.robot_id}};
      },
      [&] {
        send_video_record(data_daemon_shared::SourceFlushed{
            .robot_id = barrier.robot_id,
            .robot_instance = barrier.robot_instance,
            .publish_timestamp_ns = publish_clock_ns(),
            .producer_pid = static_cast<uint32_t>(getpid()),
        });
      });
  answer(barrier.reply);
}

void WriterLoop::serve_cancel(CancelSource barrier) {
  drain_window();
  {
    auto registry = lock_stream_registry();
    // The states end right here, under the registry lock: an open chunk is neither finished nor
    // announced; its buffered bytes are written out and its file, closed, stays on disk.
    erase_source_streams(*registry, barrier.robot_id, barrier.robot_instance);
  }
  answer(barrier.reply);
}

void WriterLoop::idle_sweep() {
  const int64_t now = publish_clock_ns();
  std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>> streams;
  (void)drop_on_out_of_memory(kWriterLogTarget, "out of memory; skipping idle sweep", no_fields,
                              [&] {
                                auto registry = lock_stream_registry();
                                streams = snapshot_streams(*registry);
                              });
  for (auto& [key, stream] : streams) {
    const StreamKeyView parts = view_stream_key(key);
    seal_and_announce(*stream, parts.robot_id, parts.robot_instance, parts.data_type, parts.name,
                      [now](StreamState& state) {
                        const bool written = std::exchange(state.written_since_sweep, false);
                        return state.chunk && !written &&
                               saturating_sub(now, state.chunk_start_ns) >= CHUNK_MAX_SPAN_NS;
                      });
  }
  streams.clear();
  refresh_spool_usage(*queue_);
  // Also after a sweep that found no memory: the next one comes a tick later, not at once.
  last_sweep_ = std::chrono::steady_clock::now();
}

}  // namespace data_daemon_bridge
