// FrameMeta: what one video frame is and when it was taken, without its pixels. log_frame fills
// it once; it moves unchanged in the queued VideoFrame and then in the writer's PendingFrame to
// the frame's chunk, where it picks the stream, the chunk's layout and the frame's timing.
#pragma once

#include <cstdint>
#include <string>

#include "data_daemon_shared/envelope.h"

namespace data_daemon_bridge {

// How a frame's pixels are laid out: what the PNG encoder needs besides the bytes, and what every
// frame of one chunk shares.
struct FrameLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  data_daemon_shared::FrameDtype dtype = data_daemon_shared::FrameDtype::Rgb8;

  bool operator==(const FrameLayout&) const = default;
};

struct FrameMeta {
  // The stream: source (robot_id, robot_instance), data_type and sensor name.
  std::string robot_id;
  int64_t robot_instance = 0;
  std::string data_type;
  std::string name;
  FrameLayout layout{};              // of the pixels that go with it
  int64_t publish_timestamp_ns = 0;  // the producer's publish clock at the log_frame call
  int64_t timestamp_ns = 0;          // capture time
  double timestamp_s = 0;            // capture time (s): the caller's, else timestamp_ns / 1e9
};

}  // namespace data_daemon_bridge
