// The value checks of one video frame, in the order log_frame runs them. Plain C++: the caller
// extracts the facts from the Python arguments and the buffer view first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_bridge {

// The Python-side labels: "uint8", "float16", "float32", compared byte for byte.
std::optional<data_daemon_shared::FrameDtype> parse_frame_dtype(std::string_view label);

struct FrameFacts {
  std::string_view robot_id;
  std::string_view data_type;
  std::string_view name;
  uint32_t width = 0;
  uint32_t height = 0;
  std::string_view dtype;
  size_t buffer_len = 0;      // the buffer view's length in bytes
  bool c_contiguous = false;  // the view is C-contiguous
};

// The frame's dtype when every check passes, else the ValueError text of the first one that
// fails: identity (non-empty, then no NUL), dtype label, data_type/dtype pairing, non-zero
// geometry, size overflow, buffer length, contiguity.
data_daemon_shared::Result<data_daemon_shared::FrameDtype, std::string> check_video_frame(
    const FrameFacts& frame);

}  // namespace data_daemon_bridge
