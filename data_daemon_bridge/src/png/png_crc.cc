#include "png/png_crc.h"

namespace data_daemon_bridge {

namespace {

constexpr std::array<uint32_t, 256> make_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t reg = i;
    for (int step = 0; step < 8; ++step) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    table[i] = reg;
  }
  return table;
}

}  // namespace

constinit const std::array<uint32_t, 256> PNG_CRC_TABLE = make_table();

uint32_t png_crc_update(uint32_t crc, std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) crc = PNG_CRC_TABLE[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace data_daemon_bridge
