#include "depth/depth_to_rgb24.h"

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "data_daemon_shared/panic.h"

namespace data_daemon_bridge {

using data_daemon_shared::FrameDtype;
using data_daemon_shared::panic;

namespace {

constexpr float kMaxDepthMetres = 10.0f;
constexpr float kMaxCode = 16777215.0f;

uint32_t code_of(float v) {
  if (std::isnan(v)) return 0;
  if (v < 0.0f) v = 0.0f;
  if (v > kMaxDepthMetres) v = kMaxDepthMetres;
  // Two roundings to single precision, in this order: the division, then the product.
  float scaled = v / kMaxDepthMetres;
  float q = scaled * kMaxCode;
  return static_cast<uint32_t>(q);
}

}  // namespace

float half_to_float(uint16_t bits) {
  const uint32_t sign = static_cast<uint32_t>(bits >> 15) << 31;
  const uint32_t exponent = (bits >> 10) & 0x1F;
  const uint32_t mantissa = bits & 0x3FF;
  if (exponent == 0) {
    // Zero or subnormal: mantissa × 2^-24, exact in single precision.
    float magnitude = std::ldexp(static_cast<float>(mantissa), -24);
    return sign ? -magnitude : magnitude;
  }
  if (exponent == 0x1F) {
    return std::bit_cast<float>(sign | 0x7F800000u | (mantissa << 13));  // infinity or NaN
  }
  return std::bit_cast<float>(sign | ((exponent - 15 + 127) << 23) | (mantissa << 13));
}

std::vector<uint8_t> depth_to_rgb24(FrameDtype dtype, uint32_t width, uint32_t height,
                                    std::span<const uint8_t> samples) {
  const uint64_t bpp = data_daemon_shared::bytes_per_pixel(dtype);
  const uint64_t pixels = uint64_t{width} * height;
  if (pixels > std::numeric_limits<uint64_t>::max() / bpp) {
    panic("width * height * bytes_per_pixel overflows usize");
  }
  const uint64_t expected = pixels * bpp;
  if (samples.size() != expected) {
    panic("depth_to_rgb24: buffer is " + std::to_string(samples.size()) +
          " bytes; expected exactly " + std::to_string(expected) + " bytes for a " +
          std::to_string(width) + "x" + std::to_string(height) + " " +
          std::string(data_daemon_shared::frame_dtype_name(dtype)) +
          " frame. The caller must validate frame size before calling \u2014 this is an internal "
          "invariant violation, not user input.");
  }
  std::vector<uint8_t> rgb;
  rgb.reserve(pixels * 3);
  if (dtype == FrameDtype::Rgb8) {
    panic("internal error: entered unreachable code: depth_to_rgb24 called with Rgb8");
  }

  rgb.resize(pixels * 3);
  uint8_t* out = rgb.data();
  auto append = [&out](uint32_t code) {
    *out++ = static_cast<uint8_t>(code >> 16);
    *out++ = static_cast<uint8_t>(code >> 8);
    *out++ = static_cast<uint8_t>(code);
  };
  const uint8_t* s = samples.data();
  if (dtype == FrameDtype::DepthF16) {
    for (uint64_t i = 0; i < pixels; ++i, s += 2) {
      append(code_of(half_to_float(static_cast<uint16_t>(s[0] | (s[1] << 8)))));
    }
  } else {
    for (uint64_t i = 0; i < pixels; ++i, s += 4) {
      uint32_t bits =
          uint32_t{s[0]} | (uint32_t{s[1]} << 8) | (uint32_t{s[2]} << 16) | (uint32_t{s[3]} << 24);
      append(code_of(std::bit_cast<float>(bits)));
    }
  }
  return rgb;
}

}  // namespace data_daemon_bridge
