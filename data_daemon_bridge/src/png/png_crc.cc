#include "png/png_crc.h"

#include "port/crc32_update.h"

namespace data_daemon_bridge {

uint32_t png_crc_update(uint32_t reg, std::span<const uint8_t> bytes) {
  return port::crc32_register_update(reg, bytes);
}

}  // namespace data_daemon_bridge
