#include "writer/write_stream_frame.h"

#include <algorithm>
#include <utility>

#include "data_daemon_shared/paths.h"
#include "data_daemon_shared/spool.h"
#include "events/events.h"
#include "port/thread_id.h"
#include "writer/recordings_root.h"
#include "writer/saturating.h"
#include "writer/seal_chunk.h"
#include "writer/stream_key.h"
#include "writer/stream_registry.h"
#include "writer/stream_state.h"
#include "writer/video_records.h"
#include "writer/writer_drops.h"

namespace data_daemon_bridge {

namespace {

using data_daemon_shared::Envelope;
using data_daemon_shared::frame_dtype_name;

// The stream's state, created (and registered) on its first frame; none when the recordings root
// is unresolved, so that nothing is registered and the next frame tries again.
std::shared_ptr<SharedStream> find_or_create_stream(const FrameMeta& frame) {
  std::string key = stream_key(frame.robot_id, frame.robot_instance, frame.data_type, frame.name);
  auto registry = lock_stream_registry();
  if (auto it = registry->streams.find(key); it != registry->streams.end()) return it->second;

  std::optional<std::string> dir =
      spool_dir_for_stream(frame.robot_id, frame.robot_instance, frame.data_type, frame.name);
  if (!dir) return nullptr;
  auto stream = std::make_shared<SharedStream>();
  stream->state.spool_dir = std::move(*dir);
  stream->state.layout = frame.layout;
  registry->streams.emplace(std::move(key), stream);
  return stream;
}

// Fixes the frame's PTS (microseconds) against the open chunk, synthesising a step when the
// capture time does not advance past the previous frame's PTS.
uint64_t frame_pts(StreamState& state, const FrameMeta& frame) {
  const int64_t ts_us = frame.timestamp_ns / 1000;
  uint64_t pts = 0;
  if (!state.chunk) {
    state.pts_origin_us = ts_us;
    state.last_pts_us.reset();
    state.pts_warned = false;
  } else if (!state.pts_origin_us) {
    state.pts_origin_us = ts_us;
  } else {
    const int64_t delta = saturating_sub(ts_us, *state.pts_origin_us);
    pts = delta < 0 ? 0 : static_cast<uint64_t>(delta);
  }

  if (!state.last_pts_us) return pts;
  const uint64_t last = *state.last_pts_us;
  if (pts <= last) {
    const uint64_t step = state.last_step_us
                              ? std::clamp(*state.last_step_us, PTS_MIN_STEP_US, PTS_MAX_STEP_US)
                              : PTS_MIN_STEP_US;
    if (!state.pts_warned) {
      state.pts_warned = true;
      const int64_t origin = state.pts_origin_us.value_or(0);
      const int64_t behind =
          static_cast<int64_t>(static_cast<uint64_t>(origin) + last - static_cast<uint64_t>(ts_us));
      emit_event_nothrow(EventLevel::Warn, kWriterLogTarget,
                         "video frame timestamp did not advance past the previous frame's PTS; "
                         "synthesizing step (logged once per chunk)",
                         [&] {
                           return std::vector<EventField>{{"sensor_name", frame.name},
                                                          {"timestamp_us", std::to_string(ts_us)},
                                                          {"previous_pts_us", std::to_string(last)},
                                                          {"step_us", std::to_string(step)},
                                                          {"behind_us", std::to_string(behind)}};
                         });
    }
    pts = saturating_add(last, step);
    state.pts_origin_us = saturating_sub(ts_us, pts);
  } else if (pts - last <= PTS_MAX_STEP_US) {
    state.last_step_us = pts - last;
  }
  return pts;
}

// Opens a new chunk file for the state; false (logged) when the file cannot be created. Throws
// std::bad_alloc when memory runs out; no chunk is open then.
bool open_chunk(StreamState& state, const FrameMeta& frame) {
  state.chunk_start_ns =
      std::max(frame.publish_timestamp_ns, saturating_add(state.chunk_start_ns, int64_t{1}));
  state.writer_thread_id = port::current_thread_id();
  const std::string path = data_daemon_shared::join_path(
      state.spool_dir, "chunk_" + std::to_string(state.chunk_start_ns) + "_" +
                           std::to_string(state.writer_thread_id) + ".nut");
  auto created = NutWriter::create(path, NutConfig{.width = state.layout.width,
                                                   .height = state.layout.height,
                                                   .time_base_num = 1,
                                                   .time_base_den = 1'000'000});
  if (!created.ok()) {
    emit_event_nothrow(EventLevel::Warn, kWriterLogTarget,
                       "failed to open NUT chunk; dropping frame", [&] {
                         return std::vector<EventField>{{"error", nut_error_text(created.error())},
                                                        {"sensor_name", frame.name},
                                                        {"path", path}};
                       });
    return false;
  }
  state.chunk.emplace(std::move(created).value());
  return true;
}

// Makes room for one more entry in each per-frame list, growing it twofold as push_back would.
// Called before a frame goes into the chunk: once it is there, its entries must follow without
// fail, or the lists would no longer hold frame_count entries.
void make_room_for_frame(StreamState& state) {
  auto make_room = [](auto& list) {
    if (list.size() == list.capacity()) list.reserve(list.empty() ? 16 : 2 * list.size());
  };
  make_room(state.frame_timestamps_ns);
  make_room(state.frame_timestamps_s);
  make_room(state.frame_offsets_us);
}

bool chunk_limit_reached(const StreamState& state, int64_t publish_timestamp_ns) {
  return state.chunk->raw_bytes() >= CHUNK_MAX_RAW_BYTES || state.frame_count > CHUNK_MAX_FRAMES ||
         saturating_sub(publish_timestamp_ns, state.chunk_start_ns) >= CHUNK_MAX_SPAN_NS;
}

// Everything that touches the stream's state, under its mutex: a geometry or dtype change seals
// the open chunk first (its announcement carries the old geometry), then the frame gets its PTS,
// a chunk is opened when none is, the frame is written, and the chunk is sealed at a limit.
// Appends the announcements to records, which the caller sends once the mutex is released, so
// that no envelope is sent while a stream is held. Throws std::bad_alloc when memory runs out
// before the frame is in the chunk; the state keeps its invariants, and records what was sealed
// before. Memory that runs out while a chunk is sealed costs that chunk alone.
void write_locked(StreamState& state, const FrameMeta& frame, std::span<const uint8_t> png,
                  std::vector<Envelope>& records) {
  records.reserve(2);  // the chunk a geometry change seals and the one a limit seals
  auto seal_into_records = [&] {
    (void)drop_on_out_of_memory(kChunkOutOfMemory, frame.name, [&] {
      if (auto record = seal_chunk(state, frame.robot_id, frame.robot_instance, frame.data_type,
                                   frame.name)) {
        records.push_back(std::move(*record));
      }
    });
  };

  if (state.chunk && frame.layout != state.layout) {
    emit_event_nothrow(
        EventLevel::Warn, kWriterLogTarget,
        "video frame geometry or dtype changed mid-stream; sealing chunk and reopening", [&] {
          return std::vector<EventField>{
              {"sensor_name", frame.name},
              {"old_width", std::to_string(state.layout.width)},
              {"old_height", std::to_string(state.layout.height)},
              {"new_width", std::to_string(frame.layout.width)},
              {"new_height", std::to_string(frame.layout.height)},
              {"old_dtype", std::string(frame_dtype_name(state.layout.dtype))},
              {"new_dtype", std::string(frame_dtype_name(frame.layout.dtype))}};
        });
    seal_into_records();  // before the new geometry is stored: the record carries the old one
  }
  state.layout = frame.layout;

  const uint64_t pts = frame_pts(state, frame);

  if (!state.chunk && !open_chunk(state, frame)) return;

  make_room_for_frame(state);
  if (auto written = state.chunk->write_frame(pts, png); !written.ok()) {
    emit_event_nothrow(EventLevel::Warn, kWriterLogTarget,
                       "failed to write video frame to NUT chunk; dropping frame", [&] {
                         return std::vector<EventField>{{"error", nut_error_text(written.error())},
                                                        {"sensor_name", frame.name}};
                       });
    return;
  }
  // The frame is in the chunk: nothing from here on allocates but a seal, which looks after
  // itself.
  state.last_pts_us = pts;
  state.written_since_sweep = true;
  if (state.frame_count != UINT32_MAX) ++state.frame_count;
  state.frame_timestamps_ns.push_back(frame.timestamp_ns);
  state.frame_timestamps_s.push_back(frame.timestamp_s);
  state.frame_offsets_us.push_back(
      data_daemon_shared::ns_delta_to_us(state.chunk_start_ns, frame.publish_timestamp_ns));

  if (chunk_limit_reached(state, frame.publish_timestamp_ns)) seal_into_records();
}

}  // namespace

void write_stream_frame(const FrameMeta& frame, std::span<const uint8_t> png) {
  std::vector<Envelope> records;
  (void)drop_on_out_of_memory(kFrameOutOfMemory, frame.name, [&] {
    std::shared_ptr<SharedStream> stream = find_or_create_stream(frame);
    if (!stream) {
      emit_event_nothrow(EventLevel::Error, kWriterLogTarget,
                         "recordings root unresolved on writer thread; dropping video frame", [&] {
                           return std::vector<EventField>{{"sensor_name", frame.name}};
                         });
      return;
    }
    std::lock_guard lock(stream->mutex);
    write_locked(stream->state, frame, png, records);
  });
  // Also what was sealed before memory ran out for the frame.
  for (Envelope& record : records) {
    (void)drop_on_out_of_memory(kChunkOutOfMemory, frame.name,
                                [&] { send_video_record(std::move(record)); });
  }
}

}  // namespace data_daemon_bridge
