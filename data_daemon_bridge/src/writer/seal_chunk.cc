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
  NutWriter chunk = std::move(*state.chunk);
  state.chunk.reset();

  auto finished = std::move(chunk).finish();
  if (!finished.ok()) {
    emit_event(EventLevel::Warn, kWriterLogTarget, "failed to finalise NUT chunk; dropping chunk",
               {{"error", nut_error_text(finished.error())}, {"sensor_name", std::string(name)}});
    state.frame_timestamps_ns.clear();
    state.frame_timestamps_s.clear();
    state.frame_offsets_us.clear();
    state.frame_count = 0;
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
  ready.frame_count = std::exchange(state.frame_count, 0);
  ready.frame_timestamps_ns = std::exchange(state.frame_timestamps_ns, {});
  ready.frame_timestamps_s = std::exchange(state.frame_timestamps_s, {});
  ready.dtype = state.layout.dtype;
  ready.frame_offsets_us = std::exchange(state.frame_offsets_us, {});
  return data_daemon_shared::Envelope(std::move(ready));
}

}  // namespace data_daemon_bridge
