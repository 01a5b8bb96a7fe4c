#include "writer/seal_chunk.h"

#include <unistd.h>

#include <utility>

#include "events/events.h"

namespace data_daemon_bridge {

std::optional<data_daemon_shared::Envelope> seal_chunk(StreamState& state,
                                                       std::string_view robot_id,
                                                       int64_t robot_instance,
                                                       std::string_view data_type,
                                                       std::string_view name) {
  if (!state.chunk) return std::nullopt;
  // The state is ready for the next chunk before anything here can fail: whatever happens to
  // this chunk, its frames' lists are not left behind for the next one.
  NutWriter chunk = std::move(*state.chunk);
  state.chunk.reset();
  std::vector<int64_t> timestamps_ns = std::exchange(state.frame_timestamps_ns, {});
  std::vector<double> timestamps_s = std::exchange(state.frame_timestamps_s, {});
  std::vector<uint32_t> offsets_us = std::exchange(state.frame_offsets_us, {});
  const uint32_t frame_count = std::exchange(state.frame_count, 0);

  auto finished = std::move(chunk).finish();
  if (!finished.ok()) {
    emit_event_nothrow(EventLevel::Warn, kWriterLogTarget,
                       "failed to finalise NUT chunk; dropping chunk", [&] {
                         return std::vector<EventField>{{"error", nut_error_text(finished.error())},
                                                        {"sensor_name", std::string(name)}};
                       });
    return std::nullopt;
  }

  data_daemon_shared::VideoChunkReady ready;
  ready.robot_id = robot_id;
  ready.robot_instance = robot_instance;
  ready.data_type = data_type;
  ready.name = std::string(name);
  ready.chunk_start_ns = state.chunk_start_ns;
  ready.writer_thread_id = state.writer_thread_id;
  ready.producer_pid = static_cast<uint32_t>(getpid());
  ready.width = state.layout.width;
  ready.height = state.layout.height;
  ready.bytes_written = finished.value();
  ready.frame_count = frame_count;
  ready.frame_timestamps_ns = std::move(timestamps_ns);
  ready.frame_timestamps_s = std::move(timestamps_s);
  ready.dtype = state.layout.dtype;
  ready.frame_offsets_us = std::move(offsets_us);
  return data_daemon_shared::Envelope(std::move(ready));
}

}  // namespace data_daemon_bridge
