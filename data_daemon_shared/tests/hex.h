// Hex text <-> bytes for the byte-exact tables of the tests, in the spaced form ("00 03 6D").
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "data_daemon_shared/hex.h"

namespace data_daemon_shared::testing {

// "00 03 6D" -> {0x00, 0x03, 0x6D}. A table entry that is not hex stops the test program.
inline std::vector<uint8_t> from_hex(const std::string& text) {
  auto bytes = parse_hex(text);
  if (!bytes) {
    std::fprintf(stderr, "not hex: \"%s\"\n", text.c_str());
    std::abort();
  }
  return *std::move(bytes);
}

inline std::string to_hex(std::span<const uint8_t> bytes) {
  return data_daemon_shared::to_hex(bytes, HexForm::Spaced);
}

}  // namespace data_daemon_shared::testing
