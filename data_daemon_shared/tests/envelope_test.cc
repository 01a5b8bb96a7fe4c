#include "data_daemon_shared/envelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hex.h"

namespace data_daemon_shared {
namespace {

using testing::from_hex;
using testing::to_hex;

std::string encoded_hex(const Envelope& envelope) {
  auto bytes = encode_envelope(envelope);
  EXPECT_TRUE(bytes.ok());
  return to_hex(bytes.value());
}

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

struct EnvelopeCase {
  const char* label;
  Envelope envelope;
  const char* hex;
};

TEST(EncodeEnvelope, WholeEnvelopesMatchTheWireForm) {
  const EnvelopeCase cases[] = {
      {"refresh", RefreshConfig{}, "06"},
      {"start",
       StartRecording{"arm", 0, std::nullopt, "d1", std::nullopt, 200, 150, std::nullopt},
       "00 03 61 72 6D 00 00 01 02 64 31 00 90 03 AC 02 00"},
      {"stop", StopRecording{"arm", 1, 200, -1}, "01 03 61 72 6D 02 90 03 01"},
      {"cancel", CancelRecording{"arm", 1, 150}, "02 03 61 72 6D 02 AC 02"},
      {"data", Data{"arm", 0, "T", "n", 5, 4, std::nullopt, bytes_of("{}")},
       "03 03 61 72 6D 00 01 54 01 01 6E 0A 08 00 02 7B 7D"},
      {"batched",
       BatchedData{"arm", 0, "T", 2, 1, 0.5, {BatchedSample{"j1", bytes_of("x")}}},
       "04 03 61 72 6D 00 01 54 04 02 01 00 00 00 00 00 00 E0 3F 01 01 02 6A 31 01 78"},
      {"chunk",
       VideoChunkReady{"r", 0, "RGB_IMAGES", "cam", 500, 7, 100, 2, 1, 300, 1, {490}, {1.5},
                       FrameDtype::Rgb8, {0}},
       "05 01 72 00 0A 52 47 42 5F 49 4D 41 47 45 53 01 03 63 61 6D E8 07 0E 64 02 01 AC 02 01 "
       "01 D4 07 01 00 00 00 00 00 00 F8 3F 00 01 00"},
      {"flushed", SourceFlushed{"arm", 1, 300, 100}, "07 03 61 72 6D 02 D8 04 64"},
      {"heartbeat", VideoHeartbeat{"arm", -2, 300, 100}, "08 03 61 72 6D 03 D8 04 64"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encoded_hex(c.envelope), to_hex(from_hex(c.hex))) << c.label;
    EXPECT_EQ(encoded_hex(c.envelope), encoded_hex(c.envelope)) << c.label << " twice";
  }
}

TEST(EncodeEnvelope, FieldsAtTheirLimits) {
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  // CancelRecording ends with timestamp_ns, so its tail after "02 01 61 00" is the i64 alone.
  struct I64Case {
    int64_t value;
    const char* hex;
  } i64_cases[] = {
      {0, "00"},
      {-1, "01"},
      {1, "02"},
      {-2, "03"},
      {kMin, "FF FF FF FF FF FF FF FF FF 01"},
      {kMax, "FE FF FF FF FF FF FF FF FF 01"},
  };
  for (const auto& c : i64_cases) {
    EXPECT_EQ(encoded_hex(CancelRecording{"a", 0, c.value}),
              to_hex(from_hex(std::string("02 01 61 00 ") + c.hex)))
        << c.value;
  }

  VideoChunkReady chunk;
  chunk.robot_id = "r";
  chunk.data_type = "D";
  chunk.producer_pid = 4294967295u;
  chunk.bytes_written = std::numeric_limits<uint64_t>::max();
  chunk.dtype = FrameDtype::DepthF32;
  EXPECT_EQ(encoded_hex(chunk),
            "05 01 72 00 01 44 00 00 00 FF FF FF FF 0F 00 00 FF FF FF FF FF FF FF FF FF 01 00 00 "
            "00 02 00");
}

TEST(EncodeEnvelope, TextLengthsAndOptionals) {
  struct Case {
    size_t length;
    const char* prefix;
  } cases[] = {{0, "00"}, {127, "7F"}, {128, "80 01"}, {300, "AC 02"}};
  for (const auto& c : cases) {
    auto bytes = encode_envelope(CancelRecording{std::string(c.length, 'x'), 0, 0}).value();
    auto prefix = from_hex(c.prefix);
    ASSERT_EQ(bytes.size(), 1 + prefix.size() + c.length + 2) << c.length;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1, bytes.begin() + 1 + prefix.size()), prefix)
        << c.length;
  }

  // Present-but-empty, absent, and an empty payload and sample list.
  EXPECT_EQ(encoded_hex(Data{"", 0, "", "", 0, 0, std::nullopt, {}}),
            "03 00 00 00 01 00 00 00 00 00");
  EXPECT_EQ(encoded_hex(Data{"", 0, "", std::nullopt, 0, 0, std::nullopt, {}}),
            "03 00 00 00 00 00 00 00 00");
  EXPECT_EQ(encoded_hex(BatchedData{"", 0, "", 0, 0, std::nullopt, {}}), "04 00 00 00 00 00 00 00");
}

TEST(EncodeEnvelope, NonFiniteSecondsAreSentUnchanged) {
  struct Case {
    double value;
    const char* hex;
  } cases[] = {
      {std::numeric_limits<double>::infinity(), "00 00 00 00 00 00 F0 7F"},
      {-std::numeric_limits<double>::infinity(), "00 00 00 00 00 00 F0 FF"},
      {std::numeric_limits<double>::quiet_NaN(), "00 00 00 00 00 00 F8 7F"},
      {1.5, "00 00 00 00 00 00 F8 3F"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encoded_hex(BatchedData{"", 0, "", 0, 0, c.value, {}}),
              "04 00 00 00 00 00 01 " + std::string(c.hex) + " 00");
  }
}

TEST(FrameDtype, SizesAndNames) {
  EXPECT_EQ(bytes_per_pixel(FrameDtype::Rgb8), 3u);
  EXPECT_EQ(bytes_per_pixel(FrameDtype::DepthF16), 2u);
  EXPECT_EQ(bytes_per_pixel(FrameDtype::DepthF32), 4u);
  EXPECT_EQ(frame_dtype_name(FrameDtype::Rgb8), "Rgb8");
  EXPECT_EQ(frame_dtype_name(FrameDtype::DepthF16), "DepthF16");
  EXPECT_EQ(frame_dtype_name(FrameDtype::DepthF32), "DepthF32");
}

}  // namespace
}  // namespace data_daemon_shared
