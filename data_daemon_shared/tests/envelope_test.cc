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
      {"start", StartRecording{"arm", 0, std::nullopt, "d1", std::nullopt, 200, 150, std::nullopt},
       "00 03 61 72 6D 00 00 01 02 64 31 00 90 03 AC 02 00"},
      {"stop", StopRecording{"arm", 1, 200, -1}, "01 03 61 72 6D 02 90 03 01"},
      {"cancel", CancelRecording{"arm", 1, 150}, "02 03 61 72 6D 02 AC 02"},
      {"data", Data{"arm", 0, "T", "n", 5, 4, std::nullopt, bytes_of("{}")},
       "03 03 61 72 6D 00 01 54 01 01 6E 0A 08 00 02 7B 7D"},
      {"batched", BatchedData{"arm", 0, "T", 2, 1, 0.5, {BatchedSample{"j1", bytes_of("x")}}},
       "04 03 61 72 6D 00 01 54 04 02 01 00 00 00 00 00 00 E0 3F 01 01 02 6A 31 01 78"},
      {"chunk",
       VideoChunkReady{"r",
                       0,
                       "RGB_IMAGES",
                       "cam",
                       500,
                       7,
                       100,
                       2,
                       1,
                       300,
                       1,
                       {490},
                       {1.5},
                       FrameDtype::Rgb8,
                       {0}},
       "05 01 72 00 0A 52 47 42 5F 49 4D 41 47 45 53 01 03 63 61 6D E8 07 0E 64 02 01 AC 02 01 "
       "01 D4 07 01 00 00 00 00 00 00 F8 3F 00 01 00"},
      {"flushed", SourceFlushed{"arm", 1, 300, 100}, "07 03 61 72 6D 02 D8 04 64"},
      {"heartbeat", VideoHeartbeat{"arm", -2, 300, 100}, "08 03 61 72 6D 03 D8 04 64"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encoded_hex(c.envelope), to_hex(from_hex(c.hex))) << c.label;
    EXPECT_EQ(encoded_hex(c.envelope), encoded_hex(c.envelope)) << c.label << " twice";
    auto decoded = decode_envelope(from_hex(c.hex));
    ASSERT_TRUE(decoded.ok()) << c.label << ": " << decoded.error().display_text();
    EXPECT_EQ(decoded.value().envelope, c.envelope) << c.label;
    EXPECT_EQ(decoded.value().trailing, 0u) << c.label;
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

// Every field set away from its default, so that a field the encoder and the decoder both skipped
// would still show.
TEST(DecodeEnvelope, EveryVariantReadsBackWhatWasEncoded) {
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::string long_text(300, 'x');
  const Envelope cases[] = {
      StartRecording{"arm", -3, "r\u00E9", "d1", "set \U0001F600", kMin, kMax, "cloud"},
      StartRecording{"arm", 0, std::nullopt, std::nullopt, std::nullopt, 1, 2, std::nullopt},
      StartRecording{"arm", 0, "", "", "", 0, 0, ""},
      StopRecording{long_text, kMax, kMin, -1},
      CancelRecording{"", kMin, kMax},
      Data{"arm", 1, "T", "n", 5, 4, -kInf, bytes_of("{\"a\":[1,2]}")},
      Data{"arm", 1, "T", std::nullopt, 5, 4, std::nullopt, {}},
      Data{"arm", 1, "T", "", 5, 4, 0.1, std::vector<uint8_t>(200, 0xFF)},
      BatchedData{.robot_id = "arm",
                  .robot_instance = 2,
                  .data_type = "JOINTS",
                  .publish_timestamp_ns = 7,
                  .timestamp_ns = 6,
                  .timestamp_s = 1e300,
                  .samples = {{"j1", bytes_of("x")}, {std::nullopt, {}}, {"", bytes_of("yz")}}},
      BatchedData{"arm", 2, "JOINTS", 7, 6, std::nullopt, {}},
      VideoChunkReady{.robot_id = "r",
                      .robot_instance = -1,
                      .data_type = "DEPTH_IMAGES",
                      .name = "cam",
                      .chunk_start_ns = kMax,
                      .writer_thread_id = kMin,
                      .producer_pid = 4294967295u,
                      .width = 1920,
                      .height = 1080,
                      .bytes_written = std::numeric_limits<uint64_t>::max(),
                      .frame_count = 3,
                      .frame_timestamps_ns = {kMin, 0, kMax},
                      .frame_timestamps_s = {kInf, -0.5, 2.0},
                      .dtype = FrameDtype::DepthF32,
                      .frame_offsets_us = {0, 1, 4294967295u}},
      VideoChunkReady{.robot_id = "r",
                      .robot_instance = 1,
                      .data_type = "RGB_IMAGES",
                      .name = std::nullopt,
                      .chunk_start_ns = 2,
                      .writer_thread_id = 3,
                      .producer_pid = 4,
                      .width = 5,
                      .height = 6,
                      .bytes_written = 7,
                      .frame_count = 0,
                      .frame_timestamps_ns = {},
                      .frame_timestamps_s = {},
                      .dtype = FrameDtype::DepthF16,
                      .frame_offsets_us = {}},
      RefreshConfig{},
      SourceFlushed{"arm", -7, kMin, 4294967295u},
      VideoHeartbeat{"arm", kMax, 300, 1},
  };
  for (const auto& envelope : cases) {
    const auto bytes = encode_envelope(envelope).value();
    SCOPED_TRACE(to_hex(bytes));
    auto decoded = decode_envelope(bytes);
    ASSERT_TRUE(decoded.ok()) << decoded.error().display_text();
    EXPECT_EQ(decoded.value().envelope.index(), envelope.index());
    EXPECT_EQ(decoded.value().envelope, envelope);
    EXPECT_EQ(decoded.value().trailing, 0u);
  }

  // NaN equals nothing, so its bit pattern is checked by encoding once more.
  VideoChunkReady nan;
  nan.frame_count = 1;
  nan.frame_timestamps_ns = {0};
  nan.frame_timestamps_s = {std::nan("")};
  nan.frame_offsets_us = {0};
  const auto bytes = encode_envelope(nan).value();
  auto decoded = decode_envelope(bytes);
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(to_hex(encode_envelope(decoded.value().envelope).value()), to_hex(bytes));
}

TEST(DecodeEnvelope, EveryCutShortEnvelopeIsRefused) {
  VideoChunkReady chunk;
  chunk.robot_id = "r";
  chunk.name = "cam";
  chunk.frame_count = 2;
  chunk.frame_timestamps_ns = {490, 491};
  chunk.frame_timestamps_s = {1.5, 2.5};
  chunk.dtype = FrameDtype::DepthF16;
  chunk.frame_offsets_us = {0, 10};
  const auto whole = encode_envelope(chunk).value();
  for (size_t length = 0; length < whole.size(); ++length) {
    auto decoded = decode_envelope(std::span(whole).first(length));
    ASSERT_FALSE(decoded.ok()) << length;
    EXPECT_EQ(decoded.error(),
              EnvelopeDecodeError::read_failed({CodecErrorKind::Decode, kCodeUnexpectedEnd}))
        << length;
  }
}

TEST(DecodeEnvelope, BytesThatAreNoEnvelope) {
  const auto codec = [](uint8_t code) {
    return EnvelopeDecodeError::read_failed({CodecErrorKind::Decode, code});
  };
  const struct {
    const char* label;
    const char* hex;
    EnvelopeDecodeError error;
    const char* text;
  } cases[] = {
      {"empty", "", codec(kCodeUnexpectedEnd),
       "failed to decode envelope: Hit the end of buffer, expected more data"},
      {"variant past the last", "09", EnvelopeDecodeError::unknown_variant(9),
       "unknown envelope variant index 9"},
      {"largest variant index", "FF FF FF FF 0F", EnvelopeDecodeError::unknown_variant(4294967295u),
       "unknown envelope variant index 4294967295"},
      {"variant index too long", "FF FF FF FF 10", codec(kCodeBadVarint),
       "failed to decode envelope: Found a varint that didn't terminate. Is the usize too big for "
       "this platform?"},
      {"robot id not UTF-8", "02 02 FF FE 00 00", codec(kCodeBadUtf8),
       "failed to decode envelope: Tried to parse invalid utf-8"},
      {"surrogate in a sample name", "04 01 61 00 00 00 00 00 01 01 03 ED A0 80 00",
       codec(kCodeBadUtf8), "failed to decode envelope: Tried to parse invalid utf-8"},
      {"option tag 2", "00 01 61 00 02", codec(kCodeBadOption),
       "failed to decode envelope: Found an Option discriminant that wasn't 0 or 1"},
      {"robot instance too long", "01 01 61 FF FF FF FF FF FF FF FF FF 02 00 00",
       codec(kCodeBadVarint),
       "failed to decode envelope: Found a varint that didn't terminate. Is the usize too big for "
       "this platform?"},
      {"dtype past the last", "05 01 72 00 01 44 00 00 00 00 00 00 00 00 00 00 03 00",
       EnvelopeDecodeError::unknown_dtype(3), "unknown frame dtype index 3"},
      // A count far beyond the input is refused when the elements run out, not allocated.
      {"sequence longer than the input",
       "05 01 72 00 01 44 00 00 00 00 00 00 00 00 FF FF FF FF FF FF FF FF FF 01 00",
       codec(kCodeUnexpectedEnd),
       "failed to decode envelope: Hit the end of buffer, expected more data"},
  };
  for (const auto& c : cases) {
    auto decoded = decode_envelope(from_hex(c.hex));
    ASSERT_FALSE(decoded.ok()) << c.label;
    EXPECT_EQ(decoded.error(), c.error) << c.label;
    EXPECT_EQ(decoded.error().display_text(), c.text) << c.label;
  }
}

TEST(DecodeEnvelope, ExtraBytesAreCountedAndNonMinimalVarintsRead) {
  auto refresh = decode_envelope(from_hex("06 AB CD"));
  ASSERT_TRUE(refresh.ok());
  EXPECT_EQ(refresh.value().envelope, Envelope(RefreshConfig{}));
  EXPECT_EQ(refresh.value().trailing, 2u);

  // The variant index 81 00, robot_instance 81 00 and publish_timestamp_ns 80 80 00 are longer
  // than they need be.
  auto stop = decode_envelope(from_hex("81 00 01 61 81 00 80 80 00 02 FF"));
  ASSERT_TRUE(stop.ok()) << stop.error().display_text();
  EXPECT_EQ(stop.value().envelope, Envelope(StopRecording{"a", -1, 0, 1}));
  EXPECT_EQ(stop.value().trailing, 1u);
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
