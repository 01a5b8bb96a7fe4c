// The items of the writer queue: raw video frames and the two source barriers.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "concurrency/channel.h"
#include "data_daemon_shared/result.h"
#include "writer/frame_meta.h"
#include "writer/pixel_bytes.h"

namespace data_daemon_bridge {

// One raw frame, built by log_frame and moved through the queue to the writer thread.
struct VideoFrame {
  FrameMeta meta;
  // The pixels; log_frame guarantees width * height * bytes_per_pixel(dtype) bytes, the writer
  // checks again. Its length is what the frame counts against the queue's memory cap.
  PixelBytes payload;
};

// The sending end of a barrier's reply channel: the writer answers with one empty message; a
// job released unanswered releases it too, which ends the caller's wait without an answer.
using ReplySender = Sender<data_daemon_shared::Unit>;
using ReplyReceiver = Receiver<data_daemon_shared::Unit>;

// flush_source: write out every frame queued before, seal and announce the source's open
// chunks, send SourceFlushed, then answer.
struct FlushSource {
  ReplySender reply;
  std::string robot_id;
  int64_t robot_instance = 0;
};

// cancel_recording: write out every frame queued before, drop the source's open chunks
// unannounced (their files stay), then answer.
struct CancelSource {
  ReplySender reply;
  std::string robot_id;
  int64_t robot_instance = 0;
};

using WriterJob = std::variant<VideoFrame, FlushSource, CancelSource>;

}  // namespace data_daemon_bridge
