#include "png/png_encoder.h"

#include <algorithm>
#include <limits>
#include <string>

#include "data_daemon_shared/panic.h"
#include "png/png_crc.h"

namespace data_daemon_bridge {

using data_daemon_shared::panic;

namespace {

constexpr uint8_t kSignature[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kFilterUp = 0x02;
constexpr size_t kMinDeflateRoom = 1024;
constexpr size_t kLeastFreeRoom = 64;
// Signature 8, IHDR chunk 25, IDAT chunk framing 12, IEND chunk 12.
constexpr uint64_t kPngOverheadBytes = 57;

void put_u32_be(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((value >> shift) & 0xFF);
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

}  // namespace

PngScratch::PngScratch() : compressor{} {
  int status = deflateInit(&compressor, 1);
  if (status != Z_OK) panic("zlib deflateInit returned " + zlib_status_name(status));
}

PngScratch::~PngScratch() { deflateEnd(&compressor); }

PngScratch& thread_png_scratch() {
  thread_local PngScratch scratch;
  return scratch;
}

void append_png_chunk(std::vector<uint8_t>& buffer, std::string_view type,
                      std::span<const uint8_t> data) {
  put_u32_be(buffer, static_cast<uint32_t>(data.size()));
  size_t type_at = buffer.size();
  buffer.insert(buffer.end(), type.begin(), type.end());
  buffer.insert(buffer.end(), data.begin(), data.end());
  uint32_t crc = png_crc(std::span<const uint8_t>(buffer).subspan(type_at));
  put_u32_be(buffer, crc);
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
  // Filter Up on every row; the row above row 0 is all zeros, so row 0 is copied unchanged.
  scratch.filtered.clear();
  scratch.filtered.resize(uint64_t{height} * (stride + 1));
  uint8_t* out = scratch.filtered.data();
  for (uint32_t r = 0; r < height; ++r) {
    *out++ = kFilterUp;
    const uint8_t* row = pixels.data() + r * stride;
    if (r == 0) {
      std::copy(row, row + stride, out);
    } else {
      const uint8_t* above = row - stride;
      for (size_t j = 0; j < stride; ++j) out[j] = static_cast<uint8_t>(row[j] - above[j]);
    }
    out += stride;
  }

  z_stream& z = scratch.compressor;
  int status = deflateReset(&z);
  if (status != Z_OK) {
    panic("internal error: entered unreachable code: zlib compress returned " +
          zlib_status_name(status));
  }
  if (scratch.deflate_out.size() < kMinDeflateRoom) scratch.deflate_out.resize(kMinDeflateRoom);

  // zlib counts in 32-bit units, so input and room are offered in pieces of at most 4 GiB - 1;
  // the finish flush is given only with the last piece of input.
  constexpr size_t kMaxPiece = std::numeric_limits<uInt>::max();
  size_t consumed = 0;
  size_t produced = 0;
  for (;;) {
    size_t in_left = scratch.filtered.size() - consumed;
    size_t room = scratch.deflate_out.size() - produced;
    z.next_in = scratch.filtered.data() + consumed;
    z.avail_in = static_cast<uInt>(std::min(in_left, kMaxPiece));
    z.next_out = scratch.deflate_out.data() + produced;
    z.avail_out = static_cast<uInt>(std::min(room, kMaxPiece));
    const uInt in_before = z.avail_in;
    const uInt out_before = z.avail_out;
    status = deflate(&z, in_left <= kMaxPiece ? Z_FINISH : Z_NO_FLUSH);
    consumed += in_before - z.avail_in;
    produced += out_before - z.avail_out;
    if (status == Z_STREAM_END) break;
    if (status != Z_OK) {
      panic("internal error: entered unreachable code: zlib compress returned " +
            zlib_status_name(status));
    }
    size_t length = scratch.deflate_out.size();
    if (length - produced < kLeastFreeRoom) {
      scratch.deflate_out.resize(std::max(2 * length, produced + kLeastFreeRoom));
    }
  }

  std::vector<uint8_t>& png = scratch.png;
  png.clear();
  png.reserve(produced + kPngOverheadBytes);
  png.insert(png.end(), std::begin(kSignature), std::end(kSignature));
  // Width, height, then bit depth 8, truecolour RGB, deflate, filter method 0, no interlace.
  const uint8_t ihdr[13] = {
      uint8_t(width >> 24),  uint8_t(width >> 16),  uint8_t(width >> 8),  uint8_t(width),
      uint8_t(height >> 24), uint8_t(height >> 16), uint8_t(height >> 8), uint8_t(height),
      8, 2, 0, 0, 0};
  append_png_chunk(png, "IHDR", ihdr);
  append_png_chunk(png, "IDAT",
                   std::span<const uint8_t>(scratch.deflate_out.data(), produced));
  append_png_chunk(png, "IEND", {});
  return png.size();
}

}  // namespace data_daemon_bridge
