// Pieces of one JSON line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dev_daemon {

// A quoted JSON string; control characters, quotes and backslashes escaped.
std::string json_string(std::string_view text);
// Lower-case hex, two digits a byte, quoted.
std::string json_hex(std::span<const uint8_t> bytes);
// Shortest round-trip digits; NaN and the infinities as the literals NaN, Infinity, -Infinity
// (which Python's json module reads).
std::string json_number(double value);

}  // namespace dev_daemon
