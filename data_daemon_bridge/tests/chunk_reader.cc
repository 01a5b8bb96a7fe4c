#include "chunk_reader.h"

#include <string_view>

#include "nut_writer/nut_crc.h"
#include "nut_writer/nut_format.h"

namespace data_daemon_bridge::testing {

namespace {

class Cursor {
 public:
  explicit Cursor(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool at_end() const { return pos_ >= bytes_.size(); }
  uint64_t pos() const { return pos_; }
  bool get_v(uint64_t& value) {
    value = 0;
    for (int i = 0; i < 10; ++i) {
      if (at_end()) return false;
      uint8_t b = bytes_[pos_++];
      value = (value << 7) | (b & 0x7F);
      if (!(b & 0x80)) return true;
    }
    return false;
  }
  bool get_be(int n, uint64_t& value) {
    if (pos_ + n > bytes_.size()) return false;
    value = 0;
    for (int i = 0; i < n; ++i) value = (value << 8) | bytes_[pos_++];
    return true;
  }
  uint32_t crc_since(uint64_t start) const {
    return nut_crc(std::span<const uint8_t>(bytes_.data() + start, pos_ - start));
  }
  bool skip(uint64_t n) {
    if (n > bytes_.size() - pos_) return false;
    pos_ += n;
    return true;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  const std::vector<uint8_t>& bytes_;
  uint64_t pos_ = 0;
};

// Reads one packet after its startcode; returns the payload's offset and length.
std::string read_packet(Cursor& c, uint64_t startcode_at, uint64_t& payload_at,
                        uint64_t& payload_len) {
  uint64_t forward;
  if (!c.get_v(forward) || forward < 4) return "bad forward pointer";
  if (forward > 4096) {
    uint32_t expected = c.crc_since(startcode_at);
    uint64_t stored;
    if (!c.get_be(4, stored) || stored != expected) return "bad packet header checksum";
  }
  payload_at = c.pos();
  payload_len = forward - 4;
  if (!c.skip(payload_len)) return "packet runs past the end";
  uint32_t expected = c.crc_since(payload_at);
  uint64_t stored;
  if (!c.get_be(4, stored) || stored != expected) return "bad packet checksum";
  return "";
}

std::string read_all(Cursor& c, ChunkContents& out) {
  if (c.bytes().size() < NUT_FILE_ID.size() ||
      std::string_view(reinterpret_cast<const char*>(c.bytes().data()), NUT_FILE_ID.size()) !=
          NUT_FILE_ID) {
    return "bad file id";
  }
  c.skip(NUT_FILE_ID.size());
  for (uint64_t startcode : {kNutMainStartcode, kNutStreamStartcode}) {
    uint64_t at = c.pos(), code, payload_at, payload_len;
    if (!c.get_be(8, code) || code != startcode) return "missing header packet";
    if (auto e = read_packet(c, at, payload_at, payload_len); !e.empty()) return e;
  }
  out.headers_end = c.pos();
  while (!c.at_end()) {
    uint64_t at = c.pos();
    if (c.bytes()[at] == 'N') {
      uint64_t code, payload_at, payload_len;
      if (!c.get_be(8, code) || code != kNutSyncpointStartcode) return "unexpected startcode";
      if (auto e = read_packet(c, at, payload_at, payload_len); !e.empty()) return e;
      Cursor payload(c.bytes());
      payload.skip(payload_at);
      ChunkItem item{ChunkItem::Kind::Syncpoint, at, 0, {}};
      uint64_t back_ptr;
      if (!payload.get_v(item.pts) || !payload.get_v(back_ptr) || back_ptr != 0 ||
          payload.pos() != payload_at + payload_len) {
        return "bad syncpoint payload";
      }
      out.items.push_back(std::move(item));
      continue;
    }
    uint64_t code, flags, stream, coded_pts, size, stored;
    if (!c.get_be(1, code) || code != kNutFrameCode) return "bad frame code";
    if (!c.get_v(flags) || flags != kNutFrameCodedFlags) return "bad frame flags";
    if (!c.get_v(stream) || stream != 0) return "bad stream id";
    if (!c.get_v(coded_pts) || coded_pts < kNutPtsCodingOffset) return "bad coded pts";
    if (!c.get_v(size)) return "bad data size";
    uint32_t expected = c.crc_since(at);
    if (!c.get_be(4, stored) || stored != expected) return "bad frame header checksum";
    uint64_t data_at = c.pos();
    if (!c.skip(size)) return "frame data runs past the end";
    out.items.push_back(
        {ChunkItem::Kind::Frame, at, coded_pts - kNutPtsCodingOffset,
         std::vector<uint8_t>(c.bytes().begin() + data_at, c.bytes().begin() + data_at + size)});
  }
  return "";
}

}  // namespace

std::vector<ChunkItem> ChunkContents::frames() const {
  std::vector<ChunkItem> out;
  for (const auto& item : items) {
    if (item.kind == ChunkItem::Kind::Frame) out.push_back(item);
  }
  return out;
}

std::vector<uint64_t> ChunkContents::syncpoint_offsets() const {
  std::vector<uint64_t> out;
  for (const auto& item : items) {
    if (item.kind == ChunkItem::Kind::Syncpoint) out.push_back(item.offset);
  }
  return out;
}

ChunkContents read_chunk(const std::vector<uint8_t>& file) {
  ChunkContents contents;
  Cursor cursor(file);
  contents.error = read_all(cursor, contents);
  if (!contents.error.empty()) contents.error += " at offset " + std::to_string(cursor.pos());
  return contents;
}

}  // namespace data_daemon_bridge::testing
