// The byte forms of the chunk layout: the "v" number, packets, the three header payloads and the
// frame header. Pure functions that append to a caller's vector.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace data_daemon_bridge {

struct NutConfig;

// The variable-length number: 7-bit groups, most significant non-zero group first, bit 7 set on
// every byte but the last; 0 is the single byte 00. 1 to 10 bytes.
void put_v(std::vector<uint8_t>& out, uint64_t value);
void put_u32_be(std::vector<uint8_t>& out, uint32_t value);
void put_u64_be(std::vector<uint8_t>& out, uint64_t value);

// startcode, v(payload length + 4), a header checksum when the payload is longer than 4,092
// bytes, the payload, and the payload's checksum.
std::vector<uint8_t> encode_packet(uint64_t startcode, std::span<const uint8_t> payload);

std::vector<uint8_t> main_header_payload(const NutConfig& config);
std::vector<uint8_t> stream_header_payload(const NutConfig& config);
// v(pts) then the back-pointer field 0.
std::vector<uint8_t> syncpoint_payload(uint64_t pts);

// The frame's header, from frame code FF to its checksum. REQUIRES: pts + 128 fits in 64 bits.
std::vector<uint8_t> frame_header(uint64_t pts, uint64_t data_length);

}  // namespace data_daemon_bridge
