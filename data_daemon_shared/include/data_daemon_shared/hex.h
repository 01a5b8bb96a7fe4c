// Bytes shown as hex digits: in the development daemon's JSON lines, in what the test peers print
// and read, and in the byte tables of the tests. Nothing on the wire or on disk is hex.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace data_daemon_shared {

enum class HexForm : uint8_t {
  Packed,  // lower case, nothing between bytes: "0a7f"
  Spaced,  // upper case, one space between bytes: "0A 7F"
};

std::string to_hex(std::span<const uint8_t> bytes, HexForm form);

// The bytes of hex text: two digits a byte, in either case, with any white space between bytes,
// so that both forms read back. Nothing when the text holds anything else or a byte's second
// digit is missing.
std::optional<std::vector<uint8_t>> parse_hex(std::string_view text);

}  // namespace data_daemon_shared
