// Hex text <-> bytes for the byte-exact tables of the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace data_daemon_shared::testing {

// "00 03 6D" -> {0x00, 0x03, 0x6D}; spaces are ignored.
inline std::vector<uint8_t> from_hex(const std::string& text) {
  std::vector<uint8_t> out;
  std::istringstream in(text);
  std::string byte;
  while (in >> byte) out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  return out;
}

inline std::string to_hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    out += buf;
  }
  return out;
}

}  // namespace data_daemon_shared::testing
