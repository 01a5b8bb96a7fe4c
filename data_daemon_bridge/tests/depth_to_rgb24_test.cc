#include "depth/depth_to_rgb24.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "data_daemon_shared/panic.h"
#include "hex.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::FrameDtype;
using data_daemon_shared::testing::from_hex;
using data_daemon_shared::testing::to_hex;

std::vector<uint8_t> f32_le(std::initializer_list<float> values) {
  std::vector<uint8_t> bytes;
  for (float v : values) {
    uint32_t bits = std::bit_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  }
  return bytes;
}

std::string rgb_of_f32(float v) {
  return to_hex(depth_to_rgb24(FrameDtype::DepthF32, 1, 1, f32_le({v})));
}

TEST(DepthToRgb24, SinglePrecisionValues) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<float, const char*> cases[] = {
      {0.0f, "00 00 00"},
      {0.5f, "0C CC CC"},
      {1.0f, "19 99 99"},
      {2.5f, "3F FF FF"},
      {5.0f, "7F FF FF"},
      {10.0f, "FF FF FF"},
      {12.0f, "FF FF FF"},
      {-1.0f, "00 00 00"},
      {-0.0f, "00 00 00"},
      {9.999999f, "FF FF FD"},
      {inf, "FF FF FF"},
      {-inf, "00 00 00"},
      {nan, "00 00 00"},
      {-nan, "00 00 00"},
      {std::bit_cast<float>(0x7FA00001u), "00 00 00"},  // a signalling NaN with a payload
      {std::numeric_limits<float>::denorm_min(), "00 00 00"},
  };
  for (const auto& [depth, rgb] : cases) EXPECT_EQ(rgb_of_f32(depth), rgb) << depth;
}

TEST(DepthToRgb24, SamplesAreLittleEndianWhateverTheHost) {
  EXPECT_EQ(to_hex(depth_to_rgb24(FrameDtype::DepthF32, 1, 1, from_hex("00 00 80 3F"))),
            "19 99 99");
  EXPECT_EQ(to_hex(depth_to_rgb24(FrameDtype::DepthF16, 1, 1, from_hex("00 3C"))), "19 99 99");
}

TEST(DepthToRgb24, HalfPrecisionWidensExactly) {
  const std::pair<uint16_t, float> cases[] = {
      {0x3C00, 1.0f},           {0x3800, 0.5f},
      {0xC000, -2.0f},          {0x7BFF, 65504.0f},  // largest finite
      {0x0001, 5.9604645e-08f},                      // smallest subnormal, 2^-24
      {0x03FF, 6.097555e-05f},                       // largest subnormal
      {0x0400, 6.1035156e-05f},                      // smallest normal, 2^-14
      {0x3555, 0.33325195f},
  };
  for (const auto& [bits, value] : cases) EXPECT_EQ(half_to_float(bits), value) << bits;
  EXPECT_EQ(half_to_float(0x7C00), std::numeric_limits<float>::infinity());
  EXPECT_EQ(half_to_float(0xFC00), -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(half_to_float(0x7E00)));
  EXPECT_TRUE(std::isnan(half_to_float(0xFC01)));
  EXPECT_TRUE(std::signbit(half_to_float(0x8000)));

  // Through the conversion: 1.0, 0.0, 10.0 and above, NaN, negative.
  EXPECT_EQ(to_hex(depth_to_rgb24(FrameDtype::DepthF16, 3, 2,
                                  from_hex("00 3C 00 00 00 49 00 4A 00 7E 00 BC"))),
            "19 99 99 00 00 00 FF FF FF FF FF FF 00 00 00 00 00 00");
}

TEST(DepthToRgb24, NanAffectsOnlyItsPixel) {
  std::vector<uint8_t> rgb = depth_to_rgb24(
      FrameDtype::DepthF32, 3, 1, f32_le({1.0f, std::numeric_limits<float>::quiet_NaN(), 5.0f}));
  EXPECT_EQ(to_hex(rgb), "19 99 99 00 00 00 7F FF FF");
}

TEST(DepthToRgb24, BrokenInvariantsPanic) {
  struct Case {
    FrameDtype dtype;
    uint32_t width, height;
    size_t bytes;
    const char* text;
  } cases[] = {
      {FrameDtype::DepthF32, 2, 2, 15,
       "depth_to_rgb24: buffer is 15 bytes; expected exactly 16 bytes for a 2x2 DepthF32 frame. "
       "The caller must validate frame size before calling \u2014 this is an internal invariant "
       "violation, not user input."},
      {FrameDtype::DepthF16, 2, 2, 9,
       "depth_to_rgb24: buffer is 9 bytes; expected exactly 8 bytes for a 2x2 DepthF16 frame. "
       "The caller must validate frame size before calling \u2014 this is an internal invariant "
       "violation, not user input."},
      {FrameDtype::DepthF32, 4294967295u, 4294967295u, 0,
       "width * height * bytes_per_pixel overflows usize"},
      {FrameDtype::Rgb8, 1, 1, 3,
       "internal error: entered unreachable code: depth_to_rgb24 called with Rgb8"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> samples(c.bytes);
    try {
      depth_to_rgb24(c.dtype, c.width, c.height, samples);
      ADD_FAILURE() << "no panic for " << c.text;
    } catch (const data_daemon_shared::Panic& e) {
      EXPECT_EQ(std::string(e.what()), c.text);
    }
  }
}

}  // namespace
}  // namespace data_daemon_bridge
