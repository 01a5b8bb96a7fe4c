#include "lib/frame_checks.h"

#include <utility>

#include "data_daemon_shared/quoted.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;
using data_daemon_shared::FrameDtype;
using data_daemon_shared::quoted;

std::optional<FrameDtype> parse_frame_dtype(std::string_view label) {
  if (label == "uint8") return FrameDtype::Rgb8;
  if (label == "float16") return FrameDtype::DepthF16;
  if (label == "float32") return FrameDtype::DepthF32;
  return std::nullopt;
}

namespace {

// The data_type each dtype may carry.
std::string_view data_type_for(FrameDtype dtype) {
  return dtype == FrameDtype::Rgb8 ? "RGB_IMAGES" : "DEPTH_IMAGES";
}

}  // namespace

data_daemon_shared::Result<FrameDtype, std::string> check_video_frame(const FrameMeta& frame,
                                                                      std::string_view dtype_label,
                                                                      size_t buffer_len,
                                                                      bool c_contiguous) {
  if (frame.robot_id.empty() || frame.data_type.empty() || frame.name.empty()) {
    return Err(std::string("robot_id, data_type and name must not be empty"));
  }
  // The three become directories of the chunk's path, where a NUL would cut the path short.
  for (auto [label, text] : {std::pair<const char*, std::string_view>{"robot_id", frame.robot_id},
                             {"data_type", frame.data_type},
                             {"name", frame.name}}) {
    if (text.find('\0') != std::string_view::npos) {
      return Err(std::string(label) + " must not contain a NUL character");
    }
  }
  const std::optional<FrameDtype> dtype = parse_frame_dtype(dtype_label);
  if (!dtype) {
    return Err("unsupported video frame dtype " + quoted(dtype_label) +
               "; expected one of: uint8, float16, float32");
  }
  if (frame.data_type != data_type_for(*dtype)) {
    return Err("video data type " + quoted(frame.data_type) + " is incompatible with dtype " +
               quoted(dtype_label) +
               "; expected RGB_IMAGES + uint8 or DEPTH_IMAGES + float16/float32");
  }
  if (frame.layout.width == 0 || frame.layout.height == 0) {
    return Err(std::string("width and height must be non-zero"));
  }
  // Two 32-bit factors cannot overflow 64 bits; the third one can.
  const uint64_t pixels = uint64_t{frame.layout.width} * frame.layout.height;
  const uint64_t bpp = data_daemon_shared::bytes_per_pixel(*dtype);
  uint64_t expected = 0;
  if (__builtin_mul_overflow(pixels, bpp, &expected)) {
    return Err(std::string("width * height * bytes_per_pixel overflows"));
  }
  if (buffer_len != expected) {
    return Err("video frame buffer is " + std::to_string(buffer_len) +
               " bytes; expected width*height*" + std::to_string(bpp) + " = " +
               std::to_string(expected) + " bytes for dtype " +
               std::string(data_daemon_shared::frame_dtype_name(*dtype)));
  }
  if (!c_contiguous) return Err(std::string("video frame buffer must be C-contiguous"));
  return *dtype;
}

}  // namespace data_daemon_bridge
