#include "data_daemon_shared/postcard.h"

#include <gtest/gtest.h>

#include "hex.h"

namespace data_daemon_shared::postcard {
namespace {

using data_daemon_shared::testing::from_hex;
using data_daemon_shared::testing::to_hex;

TEST(Postcard, Varints) {
  struct Case {
    uint64_t value;
    const char* hex;
  } cases[] = {
      {0, "00"},
      {127, "7F"},
      {128, "80 01"},
      {300, "AC 02"},
      {4294967295u, "FF FF FF FF 0F"},
      {18446744073709551615ull, "FF FF FF FF FF FF FF FF FF 01"},
  };
  for (const auto& c : cases) {
    Bytes out;
    put_varint(out, c.value);
    EXPECT_EQ(to_hex(out), c.hex);
    Reader reader(out);
    auto read = reader.u64();
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), c.value);
    EXPECT_EQ(reader.remaining(), 0u);
  }
}

TEST(Postcard, Utf8Validation) {
  struct Case {
    const char* hex;
    bool valid;
  } cases[] = {
      {"", true},
      {"61 C3 A9", true},
      {"E2 82 AC", true},           // euro sign
      {"F0 9F 98 80", true},        // U+1F600
      {"F4 8F BF BF", true},        // U+10FFFF
      {"C0 80", false},             // overlong NUL
      {"E0 80 80", false},          // overlong
      {"ED A0 80", false},          // surrogate
      {"F4 90 80 80", false},       // above U+10FFFF
      {"C3", false},                // truncated
      {"80", false},                // lone continuation
      {"FF FE", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_valid_utf8(from_hex(c.hex)), c.valid) << c.hex;
  }
}

}  // namespace
}  // namespace data_daemon_shared::postcard
