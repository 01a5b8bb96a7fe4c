// The PNG encoder: one picture of 8-bit RGB pixels (3 bytes a pixel, rows top to bottom, no
// padding) into a complete PNG file in memory. Filter Up on every row, zlib level 1, one IDAT.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace data_daemon_bridge {

// Reusable buffers and compressor of one thread. Buffers only grow, so after warm-up encoding
// an image allocates nothing. Not shared: one thread, one image at a time.
class PngScratch {
 public:
  PngScratch();
  ~PngScratch();
  PngScratch(const PngScratch&) = delete;
  PngScratch& operator=(const PngScratch&) = delete;

  std::vector<uint8_t> filtered;     // the filtered scanlines of the current image
  std::vector<uint8_t> deflate_out;  // room offered to the compressor; never shortened
  std::vector<uint8_t> png;          // the current image's PNG file (its first n bytes)
  z_stream compressor;               // zlib wrapper, level 1, default strategy; reset per image
};

// The calling thread's scratch, created on its first use and kept until the thread ends.
PngScratch& thread_png_scratch();

// Encodes the picture into scratch.png and returns the PNG's length n: the first n bytes of
// scratch.png, valid until the scratch's next image. pixels holds at least height × 3·width
// bytes; bytes beyond that are ignored. A shorter buffer, or a compressor error, is a broken
// invariant and panics; the scratch is then reset by its next image.
uint64_t encode_png_rgb24(PngScratch& scratch, uint32_t width, uint32_t height,
                          std::span<const uint8_t> pixels);

// Appends one chunk: length (modulo 2^32), the 4-character type, the data, and the checksum of
// type and data, numbers big-endian.
void append_png_chunk(std::vector<uint8_t>& buffer, std::string_view type,
                      std::span<const uint8_t> data);

}  // namespace data_daemon_bridge
