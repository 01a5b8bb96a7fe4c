#include "png/png_encoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "data_daemon_shared/panic.h"
#include "png/adler32.h"
#include "png/png_crc.h"

namespace data_daemon_bridge {

using data_daemon_shared::panic;

namespace {

constexpr uint8_t kSignature[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kFilterUp = 0x02;
constexpr size_t kMinDeflateRoom = 1024;
constexpr size_t kLeastFreeRoom = 64;
// Where things lie in the file: the signature (8 bytes), the IHDR chunk (25), then the IDAT
// chunk's length and type (8) before its data; after the data its checksum (4) and the IEND
// chunk (12). So the file's length is the zlib stream's length plus 57.
constexpr size_t kIhdrAt = 8;
constexpr size_t kIdatAt = 33;
constexpr size_t kIdatDataAt = 41;
constexpr size_t kTrailerBytes = 16;
// The zlib stream: a 2-byte header (deflate with a 32 KiB window, level 1), the deflate data,
// and the Adler-32 of the uncompressed bytes, 4 bytes big-endian.
constexpr uint8_t kZlibHeader[] = {0x78, 0x01};
constexpr size_t kAdlerBytes = 4;
// zlib counts in 32-bit units, so input and room are offered in pieces of at most 4 GiB - 1.
constexpr size_t kMaxPiece = std::numeric_limits<uInt>::max();

uint8_t* put_u32_be(uint8_t* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) *out++ = static_cast<uint8_t>(value >> shift);
  return out;
}

// Writes one chunk at out: length (modulo 2^32), the 4-character type, the data, and the
// checksum of type and data. Returns the end of what it wrote.
uint8_t* put_png_chunk(uint8_t* out, const char (&type)[5], std::span<const uint8_t> data) {
  out = put_u32_be(out, static_cast<uint32_t>(data.size()));
  uint8_t* type_at = out;
  std::memcpy(out, type, 4);
  if (!data.empty()) std::memcpy(out + 4, data.data(), data.size());
  out += 4 + data.size();
  return put_u32_be(out, png_crc({type_at, 4 + data.size()}));
}

std::string zlib_status_name(int status) {
  switch (status) {
    case Z_NEED_DICT: return "Z_NEED_DICT";
    case Z_ERRNO: return "Z_ERRNO";
    case Z_STREAM_ERROR: return "Z_STREAM_ERROR";
    case Z_DATA_ERROR: return "Z_DATA_ERROR";
    case Z_MEM_ERROR: return "Z_MEM_ERROR";
    case Z_BUF_ERROR: return "Z_BUF_ERROR";
    case Z_VERSION_ERROR: return "Z_VERSION_ERROR";
  }
  return std::to_string(status);
}

[[noreturn]] void compressor_failed(int status) {
  panic("internal error: entered unreachable code: zlib compress returned " +
        zlib_status_name(status));
}

// out[j] = row[j] - above[j] modulo 256 for j < n, in units of 16 bytes: a loop plain enough
// for the compiler to make a vector subtraction of each unit.
void subtract_row(const uint8_t* row, const uint8_t* above, uint8_t* out, size_t n) {
  constexpr size_t kUnit = 16;
  size_t j = 0;
  for (; j + kUnit <= n; j += kUnit) {
    uint8_t minuend[kUnit], subtrahend[kUnit], difference[kUnit];
    std::memcpy(minuend, row + j, kUnit);
    std::memcpy(subtrahend, above + j, kUnit);
    for (size_t k = 0; k < kUnit; ++k) {
      difference[k] = static_cast<uint8_t>(minuend[k] - subtrahend[k]);
    }
    std::memcpy(out + j, difference, kUnit);
  }
  for (; j < n; ++j) out[j] = static_cast<uint8_t>(row[j] - above[j]);
}

// Filter Up on the rows [first, first + count) into out, each as its filter-type byte and then
// every byte minus the byte above it modulo 256; the row above row 0 counts as all zeros, so row
// 0 is copied unchanged.
void filter_up(const uint8_t* pixels, size_t stride, uint64_t first, size_t count, uint8_t* out) {
  for (size_t i = 0; i < count; ++i) {
    const uint64_t r = first + i;
    const uint8_t* row = pixels + r * stride;
    *out++ = kFilterUp;
    if (stride == 0) continue;
    if (r == 0) {
      std::memcpy(out, row, stride);
    } else {
      subtract_row(row, row - stride, out, stride);
    }
    out += stride;
  }
}

// One image's zlib stream, written straight into the IDAT chunk's place in the PNG: the
// compressor's raw deflate data between the wrapper's header and its Adler-32, which are
// written here, with the chunk's checksum kept running over the bytes as they come out.
class IdatStream {
 public:
  IdatStream(z_stream& compressor, ScratchBytes& png) : z_(compressor), png_(png) {
    if (room() < kMinDeflateRoom) png_.resize(kIdatDataAt + kMinDeflateRoom + kTrailerBytes);
    const uint8_t type[] = {'I', 'D', 'A', 'T'};
    crc_ = png_crc_update(0xFFFFFFFFu, type);
    append(kZlibHeader);
  }

  // Compresses the next part of the input; the last part finishes the stream. A part need not
  // end where a deflate block does: what the compressor holds back goes out with the next one.
  void compress(std::span<uint8_t> input, bool last) {
    adler_ = adler32_update(adler_, input);
    size_t consumed = 0;
    for (;;) {
      const size_t in_left = input.size() - consumed;
      const bool finish = last && in_left <= kMaxPiece;
      uint8_t* out = png_.data() + kIdatDataAt + produced_;
      z_.next_in = input.data() + consumed;
      z_.avail_in = static_cast<uInt>(std::min(in_left, kMaxPiece));
      z_.next_out = out;
      z_.avail_out = static_cast<uInt>(std::min(deflate_room(), kMaxPiece));
      const uInt in_before = z_.avail_in;
      const uInt out_before = z_.avail_out;
      const int status = deflate(&z_, finish ? Z_FINISH : Z_NO_FLUSH);
      consumed += in_before - z_.avail_in;
      const size_t made = out_before - z_.avail_out;
      crc_ = png_crc_update(crc_, {out, made});
      produced_ += made;
      if (status == Z_STREAM_END) break;
      if (status != Z_OK) compressor_failed(status);
      if (deflate_room() < kLeastFreeRoom) {
        const size_t grown = std::max(2 * room(), produced_ + kAdlerBytes + kLeastFreeRoom);
        png_.resize(kIdatDataAt + grown + kTrailerBytes);
      }
      if (!last && consumed == input.size()) return;
    }
    uint8_t adler[kAdlerBytes];
    put_u32_be(adler, adler_);
    append(adler);
  }

  // The zlib stream's length so far.
  size_t produced() const { return produced_; }
  // The IDAT chunk's checksum, once the stream is finished.
  uint32_t crc() const { return png_crc_final(crc_); }

 private:
  // The room for the zlib stream: the PNG buffer less the framing around the IDAT data.
  size_t room() const {
    const size_t framing = kIdatDataAt + kTrailerBytes;
    return png_.size() < framing ? 0 : png_.size() - framing;
  }
  // What of the room the compressor may fill: the Adler-32 always keeps its place after it.
  size_t deflate_room() const { return room() - produced_ - kAdlerBytes; }

  // Appends bytes of the wrapper. REQUIRES: they fit the room kept for them.
  void append(std::span<const uint8_t> bytes) {
    uint8_t* out = png_.data() + kIdatDataAt + produced_;
    std::memcpy(out, bytes.data(), bytes.size());
    crc_ = png_crc_update(crc_, {out, bytes.size()});
    produced_ += bytes.size();
  }

  z_stream& z_;
  ScratchBytes& png_;
  size_t produced_ = 0;
  uint32_t crc_ = 0;                // the register, over the type and the data so far
  uint32_t adler_ = kAdler32Start;  // over the uncompressed bytes so far
};
}  // namespace

PngScratch::PngScratch() : compressor{} {
  // Raw deflate (negative window bits: no wrapper) with the zlib defaults otherwise: the
  // encoder writes the wrapper itself, so the stream is the one deflateInit(level 1) makes.
  int status = deflateInit2(&compressor, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) panic("zlib deflateInit returned " + zlib_status_name(status));
}

PngScratch::~PngScratch() { deflateEnd(&compressor); }

PngScratch& thread_png_scratch() {
  thread_local PngScratch PNG_SCRATCH;
  return PNG_SCRATCH;
}

uint64_t encode_png_rgb24(PngScratch& scratch, uint32_t width, uint32_t height,
                          std::span<const uint8_t> pixels) {
  const size_t stride = size_t{3} * width;

  // Checked before anything grows, so a wrong geometry cannot ask for a huge buffer.
  const uint64_t rows_that_fit = stride == 0 ? height : pixels.size() / stride;
  if (height > rows_that_fit) {
    panic("encode_png_rgb24: pixel buffer of " + std::to_string(pixels.size()) +
          " bytes is too short for row " + std::to_string(rows_that_fit) + " of a " +
          std::to_string(width) + "x" + std::to_string(height) + " picture");
  }

  int status = deflateReset(&scratch.compressor);
  if (status != Z_OK) compressor_failed(status);
  IdatStream idat(scratch.compressor, scratch.png);

  // The rows go to the compressor a band at a time, each filtered just before; a picture
  // without rows is an empty stream.
  const size_t row_bytes = stride + 1;
  const uint64_t band_rows = std::max<size_t>(1, kFilterBandBytes / row_bytes);
  uint64_t row = 0;
  do {
    const size_t rows = static_cast<size_t>(std::min<uint64_t>(band_rows, height - row));
    scratch.filtered.resize(rows * row_bytes);
    filter_up(pixels.data(), stride, row, rows, scratch.filtered.data());
    row += rows;
    idat.compress(scratch.filtered, row == height);
  } while (row < height);

  // Width and height, then bit depth 8, truecolour RGB, deflate, filter method 0, no interlace.
  uint8_t ihdr[13] = {0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 0, 0};
  put_u32_be(put_u32_be(ihdr, width), height);
  uint8_t* png = scratch.png.data();
  std::memcpy(png, kSignature, sizeof kSignature);
  put_png_chunk(png + kIhdrAt, "IHDR", ihdr);
  uint8_t* idat_at = put_u32_be(png + kIdatAt, static_cast<uint32_t>(idat.produced()));
  std::memcpy(idat_at, "IDAT", 4);
  uint8_t* end = put_u32_be(png + kIdatDataAt + idat.produced(), idat.crc());
  end = put_png_chunk(end, "IEND", {});
  return static_cast<uint64_t>(end - png);
}

}  // namespace data_daemon_bridge
