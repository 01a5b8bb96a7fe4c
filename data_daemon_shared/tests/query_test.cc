#include "data_daemon_shared/query.h"

#include <gtest/gtest.h>

#include <limits>

#include "hex.h"

namespace data_daemon_shared {
namespace {

using testing::from_hex;
using testing::to_hex;

constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

TEST(QueryRequests, Encode) {
  EXPECT_EQ(to_hex(encode_recording_id_request({"arm", 1, 150}).value()), "03 61 72 6D 02 AC 02");
  EXPECT_EQ(to_hex(encode_request_id(0).value()), "00");
  EXPECT_EQ(to_hex(encode_request_id(300).value()), "AC 02");
  EXPECT_EQ(to_hex(encode_request_id(kU64Max).value()), "FF FF FF FF FF FF FF FF FF 01");
  EXPECT_EQ(encode_request_id(1'700'000'000'000'000'000ull).value().size(), 9u);
}

// A reply case: input hex and either the expected value or the expected error code.
template <class T>
struct ReplyCase {
  const char* hex;
  std::optional<T> value;
  uint8_t code = 0;
};

template <class T, class Decode>
void check_replies(const std::vector<ReplyCase<T>>& cases, Decode decode) {
  for (const auto& c : cases) {
    const auto input = from_hex(c.hex);
    const auto result = decode(input);
    if (c.value) {
      ASSERT_TRUE(result.ok()) << "'" << c.hex << "' code " << int(result.error().code);
      EXPECT_EQ(result.value(), *c.value) << "'" << c.hex << "'";
    } else {
      ASSERT_FALSE(result.ok()) << "'" << c.hex << "'";
      EXPECT_EQ(result.error(), (CodecError{CodecErrorKind::Decode, c.code}))
          << "'" << c.hex << "'";
    }
  }
}

TEST(QueryReplies, Health) {
  using C = ReplyCase<HealthReply>;
  check_replies<HealthReply>(
      {
          C{"01 05", HealthReply{1, 5}},
          C{"01 05 FF FF", HealthReply{1, 5}},
          C{"00 00", HealthReply{0, 0}},
          C{"FF FF FF FF 0F 07", HealthReply{4294967295u, 7}},
          C{"FF FF FF FF 10 07", std::nullopt, 5},
          C{"FF FF FF FF 8F 07", std::nullopt, 5},
          C{"80 80 80 80 00 07", HealthReply{0, 7}},
          C{"80 00 02", HealthReply{0, 2}},
          C{"01 FF FF FF FF FF FF FF FF FF 01", HealthReply{1, kU64Max}},
          C{"01 FF FF FF FF FF FF FF FF FF 02", std::nullopt, 5},
          C{"01 FF FF FF FF FF FF FF FF FF 81", std::nullopt, 5},
          C{"01 FF FF FF FF FF FF FF FF FF", std::nullopt, 4},
          C{"01 80 80 80 80 80 80 80 80 80 00", HealthReply{1, 0}},
          C{"", std::nullopt, 4},
          C{"01", std::nullopt, 4},
          C{"FF", std::nullopt, 4},
          C{"FF FF FF FF", std::nullopt, 4},
      },
      decode_health_reply);
}

TEST(QueryReplies, RecordingId) {
  using Id = std::optional<std::string>;
  using C = ReplyCase<Id>;
  check_replies<Id>(
      {
          C{"", std::nullopt, 4},
          C{"00", Id()},
          C{"00 99", Id()},
          C{"02", std::nullopt, 9},
          C{"FF", std::nullopt, 9},
          C{"01", std::nullopt, 4},
          C{"01 03 61 62 63", Id("abc")},
          C{"01 03 61 62 63 58 59 5A", Id("abc")},
          C{"01 00", Id("")},
          C{"01 05 61", std::nullopt, 4},
          C{"01 80", std::nullopt, 4},
          C{"01 02 FF FE", std::nullopt, 8},
          C{"01 02 C3 A9", Id("\xC3\xA9")},
      },
      decode_recording_id_reply);
}

TEST(QueryReplies, Version) {
  using C = ReplyCase<VersionReply>;
  check_replies<VersionReply>(
      {
          C{"05 03 31 2E 32", VersionReply{5, "1.2"}},
          C{"05 03 31 2E 32 00 41", VersionReply{5, "1.2"}},
          C{"05 00", VersionReply{5, ""}},
          C{"", std::nullopt, 4},
          C{"05", std::nullopt, 4},
          C{"FF FF", std::nullopt, 4},
          C{"05 09 61 62", std::nullopt, 4},
          C{"05 04 FF FE FD FC", std::nullopt, 8},
          C{"01 FF FF FF FF FF FF FF FF FF 03", std::nullopt, 5},
      },
      decode_version_reply);
}

TEST(QueryReplies, ErrorTexts) {
  const auto bad_utf8 = decode_version_reply(from_hex("05 04 FF FE FD FC"));
  EXPECT_EQ(codec_error_text(bad_utf8.error()),
            "failed to decode envelope: Tried to parse invalid utf-8");
  struct Case {
    CodecError error;
    const char* text;
  } cases[] = {
      {{CodecErrorKind::Decode, 4},
       "failed to decode envelope: Hit the end of buffer, expected more data"},
      {{CodecErrorKind::Decode, 5},
       "failed to decode envelope: Found a varint that didn't terminate. Is the usize too big for "
       "this platform?"},
      {{CodecErrorKind::Decode, 9},
       "failed to decode envelope: Found an Option discriminant that wasn't 0 or 1"},
      {{CodecErrorKind::Encode, 4},
       "failed to encode envelope: Hit the end of buffer, expected more data"},
  };
  for (const auto& c : cases) EXPECT_EQ(codec_error_text(c.error), c.text);
}

}  // namespace
}  // namespace data_daemon_shared
