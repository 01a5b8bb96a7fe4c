// The value checks of one video frame, in the order log_frame runs them. Plain C++: the caller
// converts the Python arguments into the frame's metadata and takes the buffer view first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"
#include "writer/frame_meta.h"

namespace data_daemon_bridge {

// The Python-side labels: "uint8", "float16", "float32", compared byte for byte.
std::optional<data_daemon_shared::FrameDtype> parse_frame_dtype(std::string_view label);

// The frame's dtype when every check passes, else the ValueError text of the first one that
// fails: identity (non-empty, then no NUL), dtype label, data_type/dtype pairing, non-zero
// geometry, size overflow, buffer length, contiguity. Reads only the identity and geometry of
// frame: its layout's dtype is what this returns, found from dtype_label, the caller's label.
// buffer_len and c_contiguous describe the view of the pixels.
data_daemon_shared::Result<data_daemon_shared::FrameDtype, std::string> check_video_frame(
    const FrameMeta& frame, std::string_view dtype_label, size_t buffer_len, bool c_contiguous);

}  // namespace data_daemon_bridge
