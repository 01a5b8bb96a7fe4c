// The image format's checksum: CRC-32 with the reflected polynomial 0xEDB88320, register preset
// to 0xFFFFFFFF and inverted at the end.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace data_daemon_bridge {

// A constant of the program, so any number of threads may read it at once.
extern const std::array<uint32_t, 256> PNG_CRC_TABLE;

// Running form: start from 0xFFFFFFFF, feed parts with png_crc_update, finish with png_crc_final.
uint32_t png_crc_update(uint32_t crc, std::span<const uint8_t> bytes);
inline uint32_t png_crc_final(uint32_t crc) { return ~crc; }

// The checksum of one byte string.
inline uint32_t png_crc(std::span<const uint8_t> bytes) {
  return png_crc_final(png_crc_update(0xFFFFFFFFu, bytes));
}

}  // namespace data_daemon_bridge
