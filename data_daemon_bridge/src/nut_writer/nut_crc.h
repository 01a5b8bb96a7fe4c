// The chunk format's checksum: CRC-32 with generator 0x04C11DB7, most significant bit first,
// initial value 0, no reflection, no final inversion. Stored most significant byte first.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace data_daemon_bridge {

// Entry i: i shifted into the top 8 bits after eight shift-and-XOR steps. A constant of the
// program, so any number of threads may read it at once.
extern const std::array<uint32_t, 256> NUT_CRC_TABLE;

// The checksum of bytes, continued from crc (0 for a fresh checksum). Empty input or any run of
// zero bytes from 0 gives 0.
uint32_t nut_crc(std::span<const uint8_t> bytes, uint32_t crc = 0);

}  // namespace data_daemon_bridge
