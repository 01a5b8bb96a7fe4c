#include "writer/stream_key.h"

#include <gtest/gtest.h>

namespace data_daemon_bridge {
namespace {

using namespace std::string_literals;

TEST(StreamKey, SourceKeyPrefixesOnlyItsOwnInstance) {
  EXPECT_EQ(stream_key("r", 1, "RGB_IMAGES", "cam"),
            "r\0"s
            "1\0"s
            "RGB_IMAGES\0"s
            "cam");
  EXPECT_EQ(source_key("r", -5), "r\0-5\0"s);
  EXPECT_TRUE(stream_key("r", 1, "RGB_IMAGES", "cam").starts_with(source_key("r", 1)));
  EXPECT_FALSE(stream_key("r", 12, "RGB_IMAGES", "cam").starts_with(source_key("r", 1)));
}

TEST(StreamKey, ParseRecoversTheFourParts) {
  const std::string name = "a\0b"s;
  EXPECT_EQ(parse_stream_key(stream_key("r", -5, "DEPTH_IMAGES", name)),
            (StreamKeyParts{"r", -5, "DEPTH_IMAGES", name}));
  EXPECT_EQ(parse_stream_key(stream_key("r", INT64_MIN, "RGB_IMAGES", "")),
            (StreamKeyParts{"r", INT64_MIN, "RGB_IMAGES", ""}));
  // Missing pieces are empty.
  EXPECT_EQ(parse_stream_key("r"), (StreamKeyParts{"r", 0, "", ""}));
}

TEST(StreamKey, InstancePieceParsesAsSignedDecimalOrZero) {
  const struct {
    std::string piece;
    int64_t instance;
  } cases[] = {
      {"+7", 7},
      {"-7", -7},
      {"007", 7},
      {"-", 0},
      {"+", 0},
      {"", 0},
      {"7x", 0},
      {" 7", 0},
      {"+-7", 0},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", 0},
      {"-9223372036854775808", INT64_MIN},
      {"-9223372036854775809", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_stream_key("r\0"s + c.piece + "\0t\0n"s).robot_instance, c.instance)
        << '"' << c.piece << '"';
  }
}

}  // namespace
}  // namespace data_daemon_bridge
