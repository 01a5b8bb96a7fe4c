#include "png/png_crc.h"

#include <zlib.h>

namespace data_daemon_bridge {

uint32_t png_crc_update(uint32_t reg, std::span<const uint8_t> bytes) {
  // crc32_z works on the finished checksum (the inverted register) and answers an empty buffer
  // given as a null pointer with its own initial value, so an empty part is answered here.
  if (bytes.empty()) return reg;
  return ~static_cast<uint32_t>(crc32_z(~reg, bytes.data(), bytes.size()));
}

}  // namespace data_daemon_bridge
