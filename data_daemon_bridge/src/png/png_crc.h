// The image format's checksum: CRC-32 with the reflected polynomial 0xEDB88320, register preset
// to 0xFFFFFFFF and inverted at the end. It is the checksum zlib's crc32() computes; long parts
// are folded with the processor's carry-less multiply where it has one (port/crc32_update.h),
// the rest go to zlib, which the encoder links anyway.
#pragma once

#include <cstdint>
#include <span>

namespace data_daemon_bridge {

// Running form, on the register: start from 0xFFFFFFFF, feed parts with png_crc_update, finish
// with png_crc_final. Any number of threads may call these at once.
uint32_t png_crc_update(uint32_t reg, std::span<const uint8_t> bytes);
inline uint32_t png_crc_final(uint32_t reg) { return ~reg; }

// The checksum of one byte string.
inline uint32_t png_crc(std::span<const uint8_t> bytes) {
  return png_crc_final(png_crc_update(0xFFFFFFFFu, bytes));
}

}  // namespace data_daemon_bridge
