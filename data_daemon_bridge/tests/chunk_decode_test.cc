// Chunk files written by NutWriter with PNG frames from encode_png_rgb24, read back by the real
// decoders: ffmpeg must give back exactly the pixels put in, and ffprobe must see one PNG video
// stream of the right size, frame count and microsecond time stamps. Our own strict reader
// checks what ffmpeg does not: every frame-header checksum.
#include <gtest/gtest.h>

#include "chunk_reader.h"
#include "depth/depth_to_rgb24.h"
#include "nut_writer/nut_writer.h"
#include "png/png_encoder.h"
#include "test_support.h"

namespace data_daemon_bridge {
namespace {

namespace fs = std::filesystem;
using data_daemon_shared::FrameDtype;
using testing::TempDir;

struct Picture {
  uint64_t pts;
  std::vector<uint8_t> rgb;
};

// Writes the pictures as one chunk and checks it with ffmpeg, ffprobe and the strict reader.
void write_and_decode(const fs::path& path, uint32_t width, uint32_t height,
                      const std::vector<Picture>& pictures) {
  SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
  auto created = NutWriter::create(path, {width, height, 1, 1000000});
  ASSERT_TRUE(created) << nut_error_text(created.error());
  NutWriter writer = std::move(created).value();
  PngScratch& scratch = thread_png_scratch();
  std::vector<uint8_t> expected;
  for (const auto& picture : pictures) {
    uint64_t n = encode_png_rgb24(scratch, width, height, picture.rgb);
    ASSERT_TRUE(writer.write_frame(picture.pts, std::span(scratch.png.data(), n)));
    expected.insert(expected.end(), picture.rgb.begin(), picture.rgb.end());
  }
  auto finished = std::move(writer).finish();
  ASSERT_TRUE(finished) << nut_error_text(finished.error());
  EXPECT_EQ(finished.value(), fs::file_size(path));

  testing::ChunkContents contents = testing::read_chunk(testing::read_file(path));
  EXPECT_EQ(contents.error, "");
  ASSERT_EQ(contents.frames().size(), pictures.size());
  // The stored PNGs on their own, through the second decoder.
  std::vector<std::vector<uint8_t>> pngs;
  for (const auto& frame : contents.frames()) pngs.push_back(frame.data);
  testing::CommandResult reference = testing::reference_decode_pngs(pngs);
  ASSERT_EQ(reference.exit_status, 0) << reference.errors;
  EXPECT_TRUE(reference.output == expected) << "the second decoder's pixels differ";

  testing::CommandResult decoded = testing::ffmpeg_decode_rgb24(path);
  ASSERT_EQ(decoded.exit_status, 0) << decoded.errors;
  ASSERT_EQ(decoded.output.size(), expected.size()) << decoded.errors;
  EXPECT_TRUE(decoded.output == expected) << "decoded pixels differ";

  testing::ProbedStream probed = testing::ffprobe_stream(path);
  EXPECT_EQ(probed.codec_name, "png") << probed.errors;
  EXPECT_EQ(probed.width, width);
  EXPECT_EQ(probed.height, height);
  EXPECT_EQ(probed.time_base, "1/1000000");
  EXPECT_EQ(probed.frames, pictures.size());
  std::vector<int64_t> pts;
  for (const auto& picture : pictures) pts.push_back(static_cast<int64_t>(picture.pts));
  EXPECT_EQ(probed.packet_pts, pts);
}

// Irregular microsecond time stamps, as a camera's frames have.
uint64_t pts_of(size_t i) { return i * 33333 + (i % 3) * 1000 + (i == 0 ? 0 : 7); }

TEST(ChunkDecode, RgbFramesOfSeveralSizes) {
  struct Case {
    uint32_t width, height;
    size_t frames;
    bool noisy;  // noise does not compress, so its PNGs pass 32 KiB and bring syncpoints
  } cases[] = {
      {1, 1, 3, false},    {2, 3, 4, true},       {320, 240, 5, false},
      {160, 120, 4, true}, {1920, 1080, 2, true},
  };
  TempDir dir;
  uint32_t seed = 0;
  for (const auto& c : cases) {
    std::vector<Picture> pictures;
    for (size_t i = 0; i < c.frames; ++i) {
      std::vector<uint8_t> rgb;
      if (c.noisy) {
        rgb = testing::noise(size_t{c.width} * c.height * 3, ++seed);
      } else {
        rgb.resize(size_t{c.width} * c.height * 3);
        for (size_t p = 0; p < rgb.size(); ++p) {
          rgb[p] = static_cast<uint8_t>(p / 3 + 40 * i + p % 3);
        }
      }
      pictures.push_back({pts_of(i), std::move(rgb)});
    }
    fs::path path =
        dir / ("chunk_" + std::to_string(c.width) + "x" + std::to_string(c.height) + ".nut");
    write_and_decode(path, c.width, c.height, pictures);
    if (c.noisy && c.width >= 160) {
      // Frames over 32,736 bytes: each one is preceded by its own syncpoint.
      auto contents = testing::read_chunk(testing::read_file(path));
      EXPECT_EQ(contents.syncpoint_offsets().size(), 1 + c.frames);
    }
  }
}

TEST(ChunkDecode, DepthFramesMappedToRgb) {
  const uint32_t width = 64, height = 48;
  std::vector<Picture> pictures;
  for (FrameDtype dtype : {FrameDtype::DepthF32, FrameDtype::DepthF16}) {
    std::vector<uint8_t> samples;
    for (uint32_t i = 0; i < width * height; ++i) {
      float metres = static_cast<float>(i) / (width * height) * 12.0f - 1.0f;  // -1 m to 11 m
      if (dtype == FrameDtype::DepthF32) {
        uint32_t bits = std::bit_cast<uint32_t>(metres);
        for (int b = 0; b < 4; ++b) samples.push_back(static_cast<uint8_t>(bits >> (8 * b)));
      } else {
        uint16_t half = static_cast<uint16_t>(0x3C00 + (i % 0x0C00));  // 1.0 up to about 6.0
        samples.push_back(static_cast<uint8_t>(half));
        samples.push_back(static_cast<uint8_t>(half >> 8));
      }
    }
    pictures.push_back({pts_of(pictures.size()), depth_to_rgb24(dtype, width, height, samples)});
  }
  TempDir dir;
  write_and_decode(dir / "depth.nut", width, height, pictures);
}

}  // namespace
}  // namespace data_daemon_bridge
