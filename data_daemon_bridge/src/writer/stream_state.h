// StreamState: the chunk state of one video stream (a source plus data_type and name). Writer
// thread only; write_stream_frame.h fills its chunks and seal_chunk.h closes them.
//
// A state sits in the stream registry under its stream key, behind its own mutex (SharedStream),
// shared between the registry and the writer while the writer works on it. Invariants while a
// chunk is open: the three per-frame lists hold frame_count entries each, in write order; every
// frame in the chunk has the state's geometry and dtype; last_pts_us strictly increases and the
// first frame of every chunk has PTS 0. They hold as well after memory ran out in the middle of
// a frame or a seal: write_stream_frame and seal_chunk see to that.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "nut_writer/nut_writer.h"
#include "writer/frame_meta.h"

namespace data_daemon_bridge {

struct StreamState {
  std::optional<int64_t> pts_origin_us;      // capture time (µs) that maps to PTS 0 in the chunk
  std::optional<uint64_t> last_pts_us;       // PTS of the last frame written into the open chunk
  std::optional<uint64_t> last_step_us;      // last PTS step <= PTS_MAX_STEP_US; survives chunks
  std::string spool_dir;                     // the stream directory, fixed at creation
  std::vector<int64_t> frame_timestamps_ns;  // per frame in the open chunk: capture time
  std::vector<double> frame_timestamps_s;    // per frame: capture time in seconds
  std::vector<uint32_t> frame_offsets_us;    // per frame: publish time minus chunk start
  std::optional<NutWriter> chunk;            // the open chunk file
  int64_t chunk_start_ns = 0;                // start of the open (or last opened) chunk
  int64_t writer_thread_id = 0;              // thread that opened the chunk
  FrameLayout layout;                        // geometry and dtype of the chunk's frames
  uint32_t frame_count = 0;                  // frames in the open chunk, saturating
  bool written_since_sweep = false;          // set per written frame, cleared by the idle sweep
  bool pts_warned = false;                   // the PTS warning was given for the open chunk
};

// The registry's value: the state behind its own mutex. Only the writer thread locks it, never
// while it waits for the registry mutex.
struct SharedStream {
  std::mutex mutex;
  StreamState state;  // guarded by mutex
};

}  // namespace data_daemon_bridge
