// Depth frames to 24-bit RGB: each sample, in metres, becomes a 24-bit code over 0 to 10 m
// (R the high byte, B the low), so depth survives an 8-bit RGB image with a resolution of
// 10 m / 16,777,215.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "data_daemon_shared/envelope.h"

namespace data_daemon_bridge {

// REQUIRES: dtype is DepthF16 or DepthF32 and samples holds exactly width × height ×
// bytes_per_pixel(dtype) bytes of little-endian samples; anything else panics.
// Per sample, in single precision: NaN gives 0; v is held to [0, 10]; code = floor((v / 10) ×
// 16,777,215). Returns width × height × 3 bytes.
std::vector<uint8_t> depth_to_rgb24(data_daemon_shared::FrameDtype dtype, uint32_t width,
                                    uint32_t height, std::span<const uint8_t> samples);

// The exact single-precision value of a half-precision bit pattern.
float half_to_float(uint16_t bits);

}  // namespace data_daemon_bridge
