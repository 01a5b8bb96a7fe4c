// StreamState: the chunk state of one video stream (a source plus data_type and name), and the
// two operations that fill and close its chunks. Writer thread only.
//
// A state sits in the stream registry under its stream key, behind its own mutex (SharedStream),
// shared between the registry and the writer while the writer works on it. Invariants while a
// chunk is open: the three per-frame lists hold frame_count entries each, in write order; every
// frame in the chunk has the state's geometry and dtype; last_pts_us strictly increases and the
// first frame of every chunk has PTS 0.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data_daemon_shared/envelope.h"
#include "nut_writer/nut_writer.h"
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

struct StreamState {
  std::optional<int64_t> pts_origin_us;   // capture time (µs) that maps to PTS 0 in the chunk
  std::optional<uint64_t> last_pts_us;    // PTS of the last frame written into the open chunk
  std::optional<uint64_t> last_step_us;   // last PTS step <= PTS_MAX_STEP_US; survives chunks
  std::string spool_dir;                  // the stream directory, fixed at creation
  std::vector<int64_t> frame_timestamps_ns;  // per frame in the open chunk: capture time
  std::vector<double> frame_timestamps_s;    // per frame: capture time in seconds
  std::vector<uint32_t> frame_offsets_us;    // per frame: publish time minus chunk start
  std::optional<NutWriter> chunk;         // the open chunk file
  int64_t chunk_start_ns = 0;             // start of the open (or last opened) chunk
  int64_t writer_thread_id = 0;           // thread that opened the chunk
  FrameLayout layout;                     // geometry and dtype of the chunk's frames
  uint32_t frame_count = 0;               // frames in the open chunk, saturating
  bool written_since_sweep = false;       // set per written frame, cleared by the idle sweep
  bool pts_warned = false;                // the PTS warning was given for the open chunk
};

// The registry's value: the state behind its own mutex. Only the writer thread locks it, never
// while it waits for the registry mutex.
struct SharedStream {
  std::mutex mutex;
  StreamState state;  // guarded by mutex
};

// Appends one PNG-encoded frame to its stream's open chunk: creates the stream's state on its
// first frame, seals the chunk when the geometry or dtype changes, fixes the frame's PTS, opens a
// chunk when none is open, writes the frame, and seals the chunk when a limit is reached. Every
// announcement is sent on the data publisher channel after the stream's lock is released.
// Failures are logged and drop only the frame (or chunk) concerned.
void write_stream_frame(const FrameMeta& frame, std::span<const uint8_t> png);

// Finishes the open chunk and returns its announcement; none when no chunk was open or finishing
// the file failed (then its frames are forgotten and the file stays as far as it was written).
// REQUIRES: the stream's mutex is held.
std::optional<data_daemon_shared::Envelope> seal_chunk(StreamState& state,
                                                       std::string_view robot_id,
                                                       int64_t robot_instance,
                                                       std::string_view data_type,
                                                       std::string_view name);

}  // namespace data_daemon_bridge
