#include "nut_writer/nut_crc.h"

namespace data_daemon_bridge {

namespace {

constexpr std::array<uint32_t, 256> make_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t reg = i << 24;
    for (int step = 0; step < 8; ++step) {
      reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
    }
    table[i] = reg;
  }
  return table;
}

}  // namespace

constinit const std::array<uint32_t, 256> NUT_CRC_TABLE = make_table();

uint32_t nut_crc(std::span<const uint8_t> bytes, uint32_t crc) {
  for (uint8_t b : bytes) crc = NUT_CRC_TABLE[(crc >> 24) ^ b] ^ (crc << 8);
  return crc;
}

}  // namespace data_daemon_bridge
