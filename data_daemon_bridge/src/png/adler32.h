// The checksum of the zlib wrapper (RFC 1950): Adler-32, two sums modulo 65,521: a, 1 plus the
// bytes, and b, the sum of the successive values of a; the checksum is b << 16 | a.
//
// The encoder computes it itself, eight bytes a step, rather than leave it to zlib, which
// takes it a byte at a time: one of the larger costs of an image after deflate itself.
#pragma once

#include <cstdint>
#include <span>

namespace data_daemon_bridge {

inline constexpr uint32_t kAdler32Start = 1;

// Running form: start from kAdler32Start and feed the bytes in parts of any length; the value
// after the last part is the checksum. Any number of threads may call it at once.
uint32_t adler32_update(uint32_t adler, std::span<const uint8_t> bytes);

}  // namespace data_daemon_bridge
