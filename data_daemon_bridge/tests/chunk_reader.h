// A strict reader of the chunk files this module writes, for tests: it walks the file packet by
// packet and frame by frame, checks every checksum (ffmpeg does not check frame-header
// checksums) and reports where the syncpoints and frames are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace data_daemon_bridge::testing {

struct ChunkItem {
  enum class Kind { Syncpoint, Frame } kind;
  uint64_t offset = 0;        // of its first byte in the file
  uint64_t pts = 0;           // the syncpoint's time stamp or the frame's pts
  std::vector<uint8_t> data;  // a frame's data
};

struct ChunkContents {
  std::string error;             // empty when the whole file read cleanly
  uint64_t headers_end = 0;      // offset after the stream header packet
  std::vector<ChunkItem> items;  // the initial syncpoint first

  std::vector<ChunkItem> frames() const;
  std::vector<uint64_t> syncpoint_offsets() const;
};

ChunkContents read_chunk(const std::vector<uint8_t>& file);

}  // namespace data_daemon_bridge::testing
