#include "png/png_encoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <span>

#include "data_daemon_shared/panic.h"
#include "hex.h"
#include "png/adler32.h"
#include "png/png_crc.h"
#include "test_support.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::testing::from_hex;
using data_daemon_shared::testing::to_hex;

std::vector<uint8_t> encode(PngScratch& scratch, uint32_t width, uint32_t height,
                            const std::vector<uint8_t>& pixels) {
  uint64_t n = encode_png_rgb24(scratch, width, height, pixels);
  return std::vector<uint8_t>(scratch.png.begin(), scratch.png.begin() + n);
}

// The band of filtered rows the scratch holds after an image: for a small picture, all of them.
std::string filtered_hex(const PngScratch& scratch) {
  return to_hex(std::vector<uint8_t>(scratch.filtered.begin(), scratch.filtered.end()));
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t from, size_t length) {
  return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + from + length);
}

uint32_t be32(const std::vector<uint8_t>& bytes, size_t at) {
  return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 |
         bytes[at + 3];
}

// The zlib stream of the IDAT chunk, inflated: the filtered scanlines.
std::vector<uint8_t> inflate_idat(const std::vector<uint8_t>& png) {
  uint32_t idat_length = be32(png, 33);
  EXPECT_EQ(std::string(png.begin() + 37, png.begin() + 41), "IDAT");
  std::vector<uint8_t> out(1 << 24);
  uLongf out_length = out.size();
  EXPECT_EQ(uncompress(out.data(), &out_length, png.data() + 41, idat_length), Z_OK);
  out.resize(out_length);
  return out;
}

// The checksum's table, entry i being the register holding i after eight steps, shows as the
// register after feeding byte i into a register of 0; then whole checksums, in one piece and in
// parts.
TEST(PngCrc, WorkedValues) {
  const uint8_t one[] = {1};
  const uint8_t all_ones[] = {255};
  EXPECT_EQ(png_crc_update(0, one), 0x77073096u);
  EXPECT_EQ(png_crc_update(0, all_ones), 0x2D02EF8Du);
  const std::vector<uint8_t> iend = {'I', 'E', 'N', 'D'};
  EXPECT_EQ(png_crc(iend), 0xAE426082u);
  EXPECT_EQ(png_crc({}), 0u);
  const std::vector<uint8_t> ihdr = from_hex("49 48 44 52 00 00 02 80 00 00 01 E0 08 02 00 00 00");
  EXPECT_EQ(png_crc(ihdr), 0xBAB34BB3u);
  uint32_t reg = 0xFFFFFFFFu;
  for (size_t at = 0; at < ihdr.size(); at += 5) {
    reg = png_crc_update(reg, std::span(ihdr).subspan(at, std::min<size_t>(5, ihdr.size() - at)));
  }
  reg = png_crc_update(reg, {});
  EXPECT_EQ(png_crc_final(reg), 0xBAB34BB3u);
}

// Long parts take the folding path where the processor has one: against zlib over lengths around
// the point where folding starts and around its steps of 64 and 16 bytes, every start offset
// within 16 bytes, several registers, and one long input fed whole and in uneven parts.
TEST(PngCrc, LongPartsAgreeWithZlib) {
  std::vector<uint8_t> bytes(70000);
  uint32_t seed = 12345;
  for (uint8_t& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 23);
  }
  auto zlib_crc = [](uint32_t crc, std::span<const uint8_t> part) {
    return static_cast<uint32_t>(crc32_z(crc, part.data(), part.size()));
  };
  for (size_t length :
       std::vector<size_t>{255, 256, 257, 271, 272, 319, 320, 321, 335, 383, 384, 4097, 65536}) {
    for (size_t offset = 0; offset < 16; ++offset) {
      for (uint32_t crc : {0u, 0xFFFFFFFFu, 0x12345678u}) {
        const std::span<const uint8_t> part(bytes.data() + offset, length);
        EXPECT_EQ(png_crc_final(png_crc_update(~crc, part)), zlib_crc(crc, part))
            << "length " << length << ", offset " << offset << ", crc " << crc;
      }
    }
  }
  uint32_t reg = 0xFFFFFFFFu;
  for (size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 + 7) {
    reg = png_crc_update(reg, std::span(bytes).subspan(at, std::min(step, bytes.size() - at)));
  }
  EXPECT_EQ(png_crc_final(reg), zlib_crc(0, bytes));
}

// The zlib wrapper's checksum, which the encoder computes itself, against zlib's: lengths
// around the encoder's units of 16 bytes and runs of 352, bytes of 255 that fill its sums the
// most, every start offset within a unit, and the bytes fed whole and in uneven parts.
TEST(Adler32, AgreesWithZlib) {
  const std::string word = "Wikipedia";
  EXPECT_EQ(
      adler32_update(kAdler32Start, {reinterpret_cast<const uint8_t*>(word.data()), word.size()}),
      0x11E60398u);
  EXPECT_EQ(adler32_update(kAdler32Start, {}), 1u);

  const std::vector<uint8_t> random = testing::noise(200'000, 3);
  const std::vector<uint8_t> full(200'000, 0xFF);
  for (const auto* bytes : {&random, &full}) {
    for (size_t length : {1, 15, 16, 17, 351, 352, 353, 5552, 5553, 65536, 199'984}) {
      for (size_t offset = 0; offset < 16; offset += 5) {
        SCOPED_TRACE(std::to_string(length) + " bytes from " + std::to_string(offset));
        const std::span<const uint8_t> part(bytes->data() + offset, length);
        const uint32_t expected = static_cast<uint32_t>(adler32(1, part.data(), length));
        EXPECT_EQ(adler32_update(kAdler32Start, part), expected);
        uint32_t pieces = kAdler32Start;
        for (size_t at = 0, piece = 1; at < length; at += piece, piece = piece * 3 + 2) {
          pieces = adler32_update(pieces, part.subspan(at, std::min(piece, length - at)));
        }
        EXPECT_EQ(pieces, expected);
      }
    }
  }
}

TEST(PngEncoder, OnePixel) {
  PngScratch scratch;
  std::vector<uint8_t> png = encode(scratch, 1, 1, {0x10, 0x20, 0x30});
  EXPECT_EQ(filtered_hex(scratch), "02 10 20 30");
  EXPECT_EQ(to_hex(slice(png, 0, 8)), "89 50 4E 47 0D 0A 1A 0A");
  EXPECT_EQ(to_hex(slice(png, 8, 25)),
            "00 00 00 0D 49 48 44 52 00 00 00 01 00 00 00 01 08 02 00 00 00 90 77 53 DE");
  EXPECT_EQ(to_hex(inflate_idat(png)), "02 10 20 30");
}

TEST(PngEncoder, LayoutOf640x480) {
  PngScratch scratch;
  std::vector<uint8_t> pixels = testing::noise(640 * 480 * 3, 1);
  std::vector<uint8_t> png = encode(scratch, 640, 480, pixels);
  EXPECT_EQ(to_hex(slice(png, 8, 25)),
            "00 00 00 0D 49 48 44 52 00 00 02 80 00 00 01 E0 08 02 00 00 00 BA B3 4B B3");
  uint32_t idat_length = be32(png, 33);
  EXPECT_EQ(png.size(), idat_length + 57u);
  EXPECT_EQ(to_hex(slice(png, png.size() - 12, 12)), "00 00 00 00 49 45 4E 44 AE 42 60 82");
  EXPECT_EQ(be32(png, 41 + idat_length), png_crc(slice(png, 37, 4 + idat_length)));
  // The zlib wrapper: header 78 01 is level 1 with the default window.
  EXPECT_EQ(to_hex(slice(png, 41, 2)), "78 01");
}

TEST(PngEncoder, FilterUpOnEveryRow) {
  struct Case {
    uint32_t width, height;
    std::string pixels, filtered;
  } cases[] = {
      // Identical rows: every row after the first is 02 and zeros.
      {1, 3, "01 02 03 01 02 03 01 02 03", "02 01 02 03 02 00 00 00 02 00 00 00"},
      // A difference wraps modulo 256: 00 under FF gives 01.
      {1, 2, "FF 10 80 00 0F 7F", "02 FF 10 80 02 01 FF FF"},
      {2, 2, "00 00 00 01 01 01 05 05 05 00 00 00", "02 00 00 00 01 01 01 02 05 05 05 FF FF FF"},
  };
  PngScratch scratch;
  for (const auto& c : cases) {
    std::vector<uint8_t> png = encode(scratch, c.width, c.height, from_hex(c.pixels));
    EXPECT_EQ(filtered_hex(scratch), c.filtered);
    EXPECT_EQ(to_hex(inflate_idat(png)), c.filtered);
  }
}

// Every pair of a byte and the byte above it, in rows long enough for the filter's wide steps
// and its tail, and spread over more than one band of rows.
TEST(PngEncoder, FilterUpOfEveryBytePair) {
  const uint32_t width = 21846;  // 65,538 bytes a row
  const size_t stride = size_t{3} * width;
  const uint32_t height = 2 * kFilterBandBytes / stride + 3;
  std::vector<uint8_t> pixels(stride * height);
  for (size_t j = 0; j < pixels.size(); ++j) {
    const size_t r = j / stride, x = j % stride;
    pixels[j] = static_cast<uint8_t>(r % 2 == 0 ? x : x >> 8);
  }
  PngScratch scratch;
  const std::vector<uint8_t> filtered = inflate_idat(encode(scratch, width, height, pixels));
  ASSERT_EQ(filtered.size(), height * (stride + 1));
  for (size_t r = 0; r < height; ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    const uint8_t* line = filtered.data() + r * (stride + 1);
    ASSERT_EQ(line[0], 0x02);
    size_t wrong = 0;
    for (size_t x = 0; x < stride; ++x) {
      const uint8_t above = r == 0 ? 0 : pixels[(r - 1) * stride + x];
      wrong += line[1 + x] != static_cast<uint8_t>(pixels[r * stride + x] - above);
    }
    EXPECT_EQ(wrong, 0u);
  }
}

TEST(PngEncoder, BytesBeyondThePictureAreIgnored) {
  PngScratch scratch;
  std::vector<uint8_t> exact = encode(scratch, 2, 1, from_hex("01 02 03 04 05 06"));
  std::vector<uint8_t> longer = encode(scratch, 2, 1, from_hex("01 02 03 04 05 06 07 08"));
  EXPECT_EQ(exact, longer);
}

TEST(PngEncoder, ShortBufferPanicsAndTheScratchRecovers) {
  PngScratch scratch;
  std::vector<uint8_t> short_pixels(2 * 3 * 3 - 1);
  try {
    encode_png_rgb24(scratch, 3, 2, short_pixels);
    FAIL() << "no panic";
  } catch (const data_daemon_shared::Panic& e) {
    EXPECT_EQ(std::string(e.what()),
              "encode_png_rgb24: pixel buffer of 17 bytes is too short for row 1 of a 3x2 picture");
  }
  std::vector<uint8_t> pixels = testing::noise(3 * 2 * 3, 4);
  std::vector<uint8_t> png = encode(scratch, 3, 2, pixels);
  testing::CommandResult decoded = testing::reference_decode_png(png);
  ASSERT_EQ(decoded.exit_status, 0) << decoded.errors;
  EXPECT_EQ(decoded.output, pixels);
}

// The buffers are reused and only grow: after a large image, a smaller one starts with the
// large image's output room, and its PNG is still exactly 57 bytes longer than its zlib stream.
// Both decode with the second decoder to their input pixels.
TEST(PngEncoder, ReusedScratchStillDecodes) {
  PngScratch scratch;
  std::vector<uint8_t> large = testing::noise(300 * 200 * 3, 2);
  std::vector<uint8_t> large_png = encode(scratch, 300, 200, large);
  size_t room = scratch.png.size();
  EXPECT_GT(room, 300u * 200 * 3);  // noise does not compress: the room grew by doubling

  std::vector<uint8_t> small(7 * 5 * 3);
  for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<uint8_t>(i * 37);
  std::vector<uint8_t> small_png = encode(scratch, 7, 5, small);
  EXPECT_EQ(scratch.png.size(), room);
  EXPECT_EQ(small_png.size(), be32(small_png, 33) + 57u);

  for (const auto& [png, pixels] : {std::pair{large_png, large}, std::pair{small_png, small}}) {
    testing::CommandResult decoded = testing::reference_decode_png(png);
    ASSERT_EQ(decoded.exit_status, 0) << decoded.errors;
    EXPECT_EQ(decoded.output, pixels);
  }
}

// Pictures of the kinds a camera gives and of the shapes that stress the encoder's loops.
std::vector<uint8_t> picture(std::string_view kind, uint32_t width, uint32_t height) {
  const size_t size = size_t{3} * width * height;
  if (kind == "noise") return testing::noise(size, 7);
  std::vector<uint8_t> pixels(size);
  if (kind == "flat") {
    std::fill(pixels.begin(), pixels.end(), 0x5A);
    return pixels;
  }
  // "camera": smooth gradients under a little sensor noise, so it compresses, but not to nothing.
  const std::vector<uint8_t> grain = testing::noise(size, 11);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t c = 0; c < 3; ++c) {
        const size_t at = (size_t{y} * width + x) * 3 + c;
        const uint32_t smooth = (x * 160 / width + y * 80 / height + c * 30) % 256;
        pixels[at] = static_cast<uint8_t>(smooth + (grain[at] % 7));
      }
    }
  }
  return pixels;
}

// The encoder's exact output, pinned: the length and CRC-32 of whole PNG files, as this encoder
// wrote them when these values were recorded. A faster encoder must write the same bytes. The
// cases run on one scratch, so large and small pictures follow one another.
TEST(PngEncoder, WritesTheSameBytesAsBefore) {
  struct Case {
    std::string_view kind;
    uint32_t width, height;
    uint64_t length;
    uint32_t crc;
  } cases[] = {
      {"camera", 800, 600, 770609, 0xF4A7041F},  // many deflate blocks and window slides
      {"flat", 1000, 700, 10805, 0xA4373445},    // longest matches, a tiny stream
      {"noise", 640, 480, 922428, 0x61DDC590},  // does not compress: the output room grows the most
      {"camera", 1, 20000, 39361, 0x75991FA2},  // many short rows
      {"camera", 50000, 1, 87058, 0x7A3C276D},  // one long row
      {"noise", 33, 17, 1768, 0xA9ABB35B},      // smaller than any buffer, after larger pictures
      {"camera", 0, 3, 68, 0x047B20EC},         // rows of the filter byte alone
      {"camera", 3, 0, 65, 0x82696C16},         // no rows at all
  };
  PngScratch scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    const std::vector<uint8_t> png =
        encode(scratch, c.width, c.height, picture(c.kind, c.width, c.height));
    const uint32_t crc = static_cast<uint32_t>(crc32(0, png.data(), png.size()));
    EXPECT_EQ(png.size(), c.length);
    EXPECT_EQ(crc, c.crc);
  }
}

TEST(PngEncoder, ThreadScratchIsPerThread) {
  PngScratch* mine = &thread_png_scratch();
  EXPECT_EQ(mine, &thread_png_scratch());
  PngScratch* other = nullptr;
  std::thread([&other] { other = &thread_png_scratch(); }).join();
  EXPECT_NE(mine, other);
}

}  // namespace
}  // namespace data_daemon_bridge
