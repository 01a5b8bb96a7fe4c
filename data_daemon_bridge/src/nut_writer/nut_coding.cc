#include "nut_writer/nut_coding.h"

#include "nut_writer/nut_crc.h"
#include "nut_writer/nut_format.h"
#include "nut_writer/nut_writer.h"

namespace data_daemon_bridge {

void put_v(std::vector<uint8_t>& out, uint64_t value) {
  int groups = 1;
  while (groups < 10 && (value >> (7 * groups)) != 0) ++groups;
  for (int g = groups - 1; g > 0; --g) out.push_back(0x80 | ((value >> (7 * g)) & 0x7F));
  out.push_back(value & 0x7F);
}

void put_u32_be(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((value >> shift) & 0xFF);
}

void put_u64_be(std::vector<uint8_t>& out, uint64_t value) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back((value >> shift) & 0xFF);
}

std::vector<uint8_t> encode_packet(uint64_t startcode, std::span<const uint8_t> payload) {
  std::vector<uint8_t> packet;
  packet.reserve(8 + 10 + 4 + payload.size() + 4);
  put_u64_be(packet, startcode);
  put_v(packet, payload.size() + 4);
  if (payload.size() > kNutHeaderChecksumPayloadBytes) put_u32_be(packet, nut_crc(packet));
  packet.insert(packet.end(), payload.begin(), payload.end());
  put_u32_be(packet, nut_crc(payload));
  return packet;
}

std::vector<uint8_t> main_header_payload(const NutConfig& config) {
  std::vector<uint8_t> p = {
      0x03,              // version 3
      0x01,              // one stream
      0x84, 0x80, 0x00,  // maximum distance between startcodes: 65,536
      0x01,              // one time base
  };
  put_v(p, config.time_base_num);
  put_v(p, config.time_base_den);
  const uint8_t frame_codes[] = {
      // Frame codes 0 to 254 invalid (flags 0x2000); 0x4E is invalid anyway and not counted.
      0xC0, 0x00, 0x06, 0x00, 0x01, 0x00, 0x00, 0x00, 0x81, 0x7E,
      // Frame code 0xFF: flags 0x1000, the real flags are coded in each frame header.
      0xA0, 0x00, 0x06, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
      0x00,  // no elision headers
      0x00,  // reserved
  };
  p.insert(p.end(), std::begin(frame_codes), std::end(frame_codes));
  return p;
}

std::vector<uint8_t> stream_header_payload(const NutConfig& config) {
  std::vector<uint8_t> p = {
      0x00,                      // stream id 0
      0x00,                      // video
      0x04, 'M', 'P', 'N', 'G',  // fourcc
      0x00,                      // time base index 0
      0x07,                      // msb pts shift
      0x01,                      // maximum pts distance
      0x00,                      // decode delay
      0x00,                      // stream flags
      0x00,                      // no codec-specific data
  };
  put_v(p, config.width);
  put_v(p, config.height);
  p.insert(p.end(), {0x01, 0x01,  // sample aspect 1:1
                     0x00});      // colour space type
  return p;
}

std::vector<uint8_t> syncpoint_payload(uint64_t pts) {
  std::vector<uint8_t> p;
  put_v(p, pts);
  p.push_back(0x00);
  return p;
}

std::vector<uint8_t> frame_header(uint64_t pts, uint64_t data_length) {
  std::vector<uint8_t> h;
  h.reserve(1 + 2 + 1 + 10 + 10 + 4);
  h.push_back(kNutFrameCode);
  put_v(h, kNutFrameCodedFlags);
  h.push_back(0x00);  // stream id
  put_v(h, pts + kNutPtsCodingOffset);
  put_v(h, data_length);
  put_u32_be(h, nut_crc(h));
  return h;
}

}  // namespace data_daemon_bridge
