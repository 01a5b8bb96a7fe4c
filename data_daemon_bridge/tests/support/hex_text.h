// Bytes as text, the form the daemon-side helper programs print payloads in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace data_daemon_bridge::testing {

// Lower-case hex without separators.
inline std::string hex_text(std::span<const uint8_t> bytes) {
  std::string out;
  char buf[3];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    out += buf;
  }
  return out;
}

}  // namespace data_daemon_bridge::testing
