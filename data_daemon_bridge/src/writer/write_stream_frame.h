// Appending a PNG-encoded frame to its stream's chunk file, and the limits at which a chunk is
// sealed. Writer thread only.
#pragma once

#include <cstdint>
#include <span>

#include "writer/frame_meta.h"

namespace data_daemon_bridge {

// A chunk is sealed once its raw picture bytes (width * height * 3 a frame, also for depth)
// reach this.
inline constexpr uint64_t CHUNK_MAX_RAW_BYTES = 268'435'456;
// ... once it holds more frames than this.
inline constexpr uint32_t CHUNK_MAX_FRAMES = 45'411;
// ... once a written frame's publish time is this far past the chunk's start; the idle sweep
// seals an unfed chunk this old.
inline constexpr int64_t CHUNK_MAX_SPAN_NS = 5'000'000'000;
// Smallest synthesised PTS step, and the step when none is known.
inline constexpr uint64_t PTS_MIN_STEP_US = 1'000;
// Largest synthesised PTS step; a larger observed step is not remembered.
inline constexpr uint64_t PTS_MAX_STEP_US = 100'000;

// Appends one PNG-encoded frame to its stream's open chunk: creates the stream's state on its
// first frame, seals the chunk when the geometry or dtype changes, fixes the frame's PTS, opens a
// chunk when none is open, writes the frame, and seals the chunk when a limit is reached. Every
// announcement is sent on the data publisher channel after the stream's lock is released.
// Failures are logged and drop only the frame (or chunk) concerned; memory that runs out too
// (WARN "out of memory; dropping frame" or "...; dropping chunk", field sensor_name): nothing
// is thrown, and the stream's state stays as stream_state.h describes it.
void write_stream_frame(const FrameMeta& frame, std::span<const uint8_t> png);

}  // namespace data_daemon_bridge
