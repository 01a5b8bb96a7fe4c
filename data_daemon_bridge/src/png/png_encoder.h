// The PNG encoder: one picture of 8-bit RGB pixels (3 bytes a pixel, rows top to bottom, no
// padding) into a complete PNG file in memory. Filter Up on every row, zlib level 1, one IDAT.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <span>

#include "png/scratch_bytes.h"

namespace data_daemon_bridge {

// Reusable buffers and compressor of one thread. Buffers only grow and are written over, never
// cleared, so after warm-up encoding an image allocates nothing and touches no byte twice for
// nothing. Not shared: one thread, one image at a time.
class PngScratch {
 public:
  PngScratch();
  ~PngScratch();
  PngScratch(const PngScratch&) = delete;
  PngScratch& operator=(const PngScratch&) = delete;

  // The band of filtered scanlines being compressed: whole rows, as many as fit in
  // kFilterBandBytes (at least one), so that the compressor reads them while they are still
  // in the cache. After an image it holds that image's last band.
  ScratchBytes filtered;
  // The PNG file being built. The zlib stream is written straight into the IDAT chunk's place,
  // so its length is the room offered to the stream plus the chunk framing around it; it keeps
  // the length reached by earlier images and is never shortened. The image is its first n
  // bytes.
  ScratchBytes png;
  // Raw deflate, level 1, default window, memory level and strategy; reset per image. The
  // encoder writes the zlib wrapper around its output, and computes the wrapper's checksum
  // faster than zlib would: together, the stream zlib makes at level 1 with its wrapper.
  z_stream compressor;
};

// The size of a band of filtered rows: small enough to stay in the cache between the filter
// writing it and the compressor reading it.
inline constexpr size_t kFilterBandBytes = 64 * 1024;

// The calling thread's scratch, created on its first use and kept until the thread ends.
PngScratch& thread_png_scratch();

// Encodes the picture into scratch.png and returns the PNG's length n: the first n bytes of
// scratch.png, valid until the scratch's next image. pixels holds at least height × 3·width
// bytes; bytes beyond that are ignored. A shorter buffer, or a compressor error, is a broken
// invariant and panics; the scratch is then reset by its next image.
uint64_t encode_png_rgb24(PngScratch& scratch, uint32_t width, uint32_t height,
                          std::span<const uint8_t> pixels);

}  // namespace data_daemon_bridge
