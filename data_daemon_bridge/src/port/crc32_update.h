// The CRC-32 of zlib and the image format (reflected polynomial 0xEDB88320), on the bare
// register: no presetting or inverting here, the caller does that.
//
// Where the processor multiplies without carries (x86-64 with PCLMULQDQ), long inputs are folded
// 64 bytes a step, several times faster than zlib's table method, which is otherwise used: the
// checksum of the compressed bytes is the largest cost of an image after deflate.
#pragma once

#include <cstdint>
#include <span>

namespace data_daemon_bridge::port {

// The register after feeding it the bytes, in order. Any thread may call.
uint32_t crc32_register_update(uint32_t reg, std::span<const uint8_t> bytes);

}  // namespace data_daemon_bridge::port
