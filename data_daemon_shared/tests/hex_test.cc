#include "data_daemon_shared/hex.h"

#include <gtest/gtest.h>

namespace data_daemon_shared {
namespace {

TEST(Hex, BothFormsWriteAndReadBack) {
  const std::vector<uint8_t> bytes = {0x00, 0x0A, 0x7F, 0x80, 0xFF};
  EXPECT_EQ(to_hex(bytes, HexForm::Packed), "000a7f80ff");
  EXPECT_EQ(to_hex(bytes, HexForm::Spaced), "00 0A 7F 80 FF");
  EXPECT_EQ(to_hex({}, HexForm::Packed), "");
  EXPECT_EQ(to_hex({}, HexForm::Spaced), "");
  for (const char* text : {"000a7f80ff", "00 0A 7F 80 FF", "000A7f80Ff", " 00\t0a\n7f 80ff "}) {
    EXPECT_EQ(parse_hex(text), bytes) << text;
  }
  EXPECT_EQ(parse_hex(""), std::vector<uint8_t>());
}

TEST(Hex, WhatIsNotHexReadsAsNothing) {
  for (const char* text : {"0", "00 1", "0 0", "0g", "00-01", "0x00"}) {
    EXPECT_EQ(parse_hex(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace data_daemon_shared
