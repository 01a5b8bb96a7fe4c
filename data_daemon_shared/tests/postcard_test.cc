#include "data_daemon_shared/postcard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

TEST(Postcard, SignedFloatAndByteFieldsReadBackAsWritten) {
  const int64_t ints[] = {0, -1, 1, -64, 64, INT64_MIN, INT64_MAX};
  const double floats[] = {0.0, -0.0, 1.5, -2.25e300, std::numeric_limits<double>::infinity()};
  Bytes out;
  for (int64_t v : ints) put_zigzag(out, v);
  for (double v : floats) put_f64(out, v);
  put_bytes(out, from_hex("00 FF 7B"));
  Reader reader(out);
  for (int64_t v : ints) EXPECT_EQ(reader.i64().value(), v);
  for (double v : floats) {
    const double read = reader.f64().value();
    EXPECT_EQ(std::signbit(read), std::signbit(v));
    EXPECT_EQ(read, v);
  }
  EXPECT_EQ(to_hex(reader.bytes().value()), "00 FF 7B");
  EXPECT_EQ(reader.remaining(), 0u);

  // Short input fails without moving past the end.
  const Bytes short_f64 = from_hex("00 00 00");
  Reader f64_reader(short_f64);
  EXPECT_EQ(f64_reader.f64().error().code, kCodeUnexpectedEnd);
  const Bytes short_bytes = from_hex("05 01 02");
  Reader bytes_reader(short_bytes);
  EXPECT_EQ(bytes_reader.bytes().error().code, kCodeUnexpectedEnd);
}

TEST(Postcard, TextsMustBeUtf8) {
  struct Case {
    const char* hex;
    bool valid;
  } cases[] = {
      {"", true},
      {"61 C3 A9", true},
      {"E2 82 AC", true},      // euro sign
      {"F0 9F 98 80", true},   // U+1F600
      {"F4 8F BF BF", true},   // U+10FFFF
      {"C0 80", false},        // overlong NUL
      {"E0 80 80", false},     // overlong
      {"ED A0 80", false},     // surrogate
      {"F4 90 80 80", false},  // above U+10FFFF
      {"C3", false},           // truncated
      {"80", false},           // lone continuation
      {"FF FE", false},
  };
  for (const auto& c : cases) {
    Bytes out;
    put_bytes(out, from_hex(c.hex));
    Reader reader(out);
    auto text = reader.text();
    EXPECT_EQ(text.ok(), c.valid) << c.hex;
    if (text.ok()) {
      EXPECT_EQ(to_hex(Bytes(text.value().begin(), text.value().end())), c.hex);
    } else {
      EXPECT_EQ(text.error().code, kCodeBadUtf8) << c.hex;
    }
  }
}

}  // namespace
}  // namespace data_daemon_shared::postcard
