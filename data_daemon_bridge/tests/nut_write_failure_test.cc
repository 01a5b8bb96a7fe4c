// Write failures on a real, small file system: a tmpfs mounted for the test (the tests run as
// root; without the right to mount, the tests skip). write_frame and finish report
// NutError::Write, the writer stays usable, and the file keeps only whole frames, so that once
// space is back the chunk decodes to exactly the frames that were accepted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "chunk_reader.h"
#include "nut_writer/nut_format.h"
#include "nut_writer/nut_writer.h"
#include "png/png_encoder.h"
#include "test_support.h"

namespace data_daemon_bridge {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

class SmallFileSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CommandResult mounted = testing::run_command("mount -t tmpfs -o size=32m tmpfs " +
                                                          testing::shell_quoted(dir_.path()));
    if (mounted.exit_status != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << mounted.errors;
    }
    mounted_ = true;
  }

  void TearDown() override {
    if (mounted_) testing::run_command("umount " + testing::shell_quoted(dir_.path()));
  }

  fs::path path(const std::string& name) const { return dir_ / name; }

  uint64_t free_bytes() const {
    struct statvfs st;
    if (statvfs(dir_.path().c_str(), &st) != 0) return 0;
    return uint64_t{st.f_bavail} * st.f_frsize;
  }

  // Fills the file system until at most leave bytes are free.
  void fill(uint64_t leave) {
    std::ofstream filler(path("filler"), std::ios::binary | std::ios::app);
    std::vector<char> block(64 * 1024, 'f');
    while (free_bytes() > leave) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), free_bytes() - leave));
      if (!filler.write(block.data(), static_cast<std::streamsize>(n)).flush()) break;
    }
  }

  void unfill() { fs::remove(path("filler")); }

  TempDir dir_;
  bool mounted_ = false;
};

struct Frame {
  uint64_t pts;
  std::vector<uint8_t> rgb;
  std::vector<uint8_t> png;
};

Frame noisy_frame(uint32_t width, uint32_t height, uint64_t pts) {
  Frame frame{pts, testing::noise(size_t{width} * height * 3, static_cast<uint32_t>(pts) + 1), {}};
  PngScratch& scratch = thread_png_scratch();
  uint64_t n = encode_png_rgb24(scratch, width, height, frame.rgb);
  frame.png.assign(scratch.png.begin(), scratch.png.begin() + n);
  return frame;
}

void expect_decodes_to(const fs::path& path, const std::vector<const Frame*>& frames) {
  testing::ChunkContents contents = testing::read_chunk(testing::read_file(path));
  EXPECT_EQ(contents.error, "");
  std::vector<uint64_t> pts;
  for (const auto& item : contents.frames()) pts.push_back(item.pts);
  std::vector<uint64_t> expected_pts;
  std::vector<uint8_t> expected_pixels;
  for (const Frame* f : frames) {
    expected_pts.push_back(f->pts);
    expected_pixels.insert(expected_pixels.end(), f->rgb.begin(), f->rgb.end());
  }
  EXPECT_EQ(pts, expected_pts);
  testing::CommandResult decoded = testing::ffmpeg_decode_rgb24(path);
  ASSERT_EQ(decoded.exit_status, 0) << decoded.errors;
  EXPECT_TRUE(decoded.output == expected_pixels)
      << "decoded " << decoded.output.size() << " bytes, expected " << expected_pixels.size();
}

std::string write_error_text(const fs::path& path) {
  return "failed to write NUT file " + path.string() + ": No space left on device";
}

// Frames of about 3 MiB: two fit the 8 MiB buffer, the third pushes them out.
TEST_F(SmallFileSystem, BufferedFramesSurviveAFullDisk) {
  const fs::path chunk = path("chunk.nut");
  std::vector<Frame> frames;
  for (uint64_t i = 0; i < 7; ++i) frames.push_back(noisy_frame(1024, 1024, 1000 * i));
  auto created = NutWriter::create(chunk, {1024, 1024, 1, 1000000});
  ASSERT_TRUE(created);
  NutWriter writer = std::move(created).value();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(writer.write_frame(frames[i].pts, frames[i].png));
  // Frames 0 and 1 are in the file, 2 and 3 in the buffer.

  // Frame 4 needs the buffer written out, and only 1 MiB is free: part of frames 2 and 3
  // reaches the file, the rest stays buffered, and frame 4 is refused: only the syncpoint
  // written ahead of it (16 bytes) stays, nothing of the frame itself.
  fill(1024 * 1024);
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint64_t before = writer.bytes_written();
    auto refused = writer.write_frame(frames[4].pts, frames[4].png);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, NutError::Kind::Write);
    EXPECT_EQ(nut_error_text(refused.error()), write_error_text(chunk));
    EXPECT_EQ(writer.bytes_written(), before + 16);
    EXPECT_LT(fs::file_size(chunk), before);
  }

  // Space again: the kept bytes go out first, then frame 4.
  unfill();
  ASSERT_TRUE(writer.write_frame(frames[4].pts, frames[4].png));

  // The periodic write-out after frame 5 (past 16 MiB) fails on a full disk; that is not
  // frame 5's failure, and the next write-out takes the bytes.
  fill(0);
  ASSERT_TRUE(writer.write_frame(frames[5].pts, frames[5].png));
  EXPECT_GE(writer.bytes_written(), 16u * 1024 * 1024);
  EXPECT_LT(fs::file_size(chunk), writer.bytes_written());
  unfill();
  ASSERT_TRUE(writer.write_frame(frames[6].pts, frames[6].png));
  EXPECT_EQ(fs::file_size(chunk), writer.bytes_written());

  uint64_t length = writer.bytes_written();
  auto finished = std::move(writer).finish();
  ASSERT_TRUE(finished) << nut_error_text(finished.error());
  EXPECT_EQ(finished.value(), length);
  EXPECT_EQ(fs::file_size(chunk), length);
  expect_decodes_to(
      chunk, {&frames[0], &frames[1], &frames[2], &frames[3], &frames[4], &frames[5], &frames[6]});
}

// A frame of at least 8 MiB goes straight to the file; when the disk fills in its middle, the
// part that reached the file is cut off again.
TEST_F(SmallFileSystem, LargeFrameCutOffInTheMiddleIsTakenBack) {
  const fs::path chunk = path("chunk.nut");
  Frame big = noisy_frame(1700, 1700, 0);
  Frame next = noisy_frame(1700, 1700, 40000);
  ASSERT_GE(big.png.size(), 8u * 1024 * 1024);
  auto created = NutWriter::create(chunk, {1700, 1700, 1, 1000000});
  ASSERT_TRUE(created);
  NutWriter writer = std::move(created).value();

  fill(3 * 1024 * 1024);
  auto refused = writer.write_frame(big.pts, big.png);
  ASSERT_FALSE(refused);
  EXPECT_EQ(nut_error_text(refused.error()), write_error_text(chunk));
  // The headers and the frame's syncpoint stay; nothing of the frame itself does.
  EXPECT_EQ(writer.bytes_written(), 117u + 15u);
  EXPECT_EQ(fs::file_size(chunk), writer.bytes_written());
  EXPECT_EQ(writer.raw_bytes(), 0u);

  unfill();
  ASSERT_TRUE(writer.write_frame(next.pts, next.png));
  auto finished = std::move(writer).finish();
  ASSERT_TRUE(finished) << nut_error_text(finished.error());
  expect_decodes_to(chunk, {&next});
}

TEST_F(SmallFileSystem, FinishReportsAFailedWriteOutAndCloses) {
  const fs::path chunk = path("chunk.nut");
  Frame frame = noisy_frame(64, 64, 0);
  auto created = NutWriter::create(chunk, {64, 64, 1, 1000000});
  ASSERT_TRUE(created);
  NutWriter writer = std::move(created).value();
  ASSERT_TRUE(writer.write_frame(frame.pts, frame.png));
  fill(0);
  auto finished = std::move(writer).finish();
  ASSERT_FALSE(finished);
  EXPECT_EQ(nut_error_text(finished.error()), write_error_text(chunk));
  // Closed: the file system can be unmounted, which a file still open would prevent.
  unfill();
  testing::CommandResult unmounted =
      testing::run_command("umount " + testing::shell_quoted(dir_.path()));
  EXPECT_EQ(unmounted.exit_status, 0) << unmounted.errors;
  mounted_ = unmounted.exit_status != 0;
}

// A file that cannot be truncated (a pipe whose reader goes away in the middle of a large
// frame): the partial frame cannot be taken back, so the writer refuses every later frame and
// finish reports the failure instead of a good chunk.
TEST(NutWriteFailure, PartialFrameThatCannotBeTakenBackStopsTheChunk) {
  TempDir dir;
  const fs::path fifo = dir / "chunk.nut";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  std::thread reader([&fifo] {
    int fd = ::open(fifo.c_str(), O_RDONLY);
    std::vector<char> buf(64 * 1024);
    size_t total = 0;
    while (total < 200 * 1024) {
      ssize_t n = ::read(fd, buf.data(), buf.size());
      if (n <= 0) break;
      total += static_cast<size_t>(n);
    }
    ::close(fd);
  });
  auto created = NutWriter::create(fifo, {64, 64, 1, 1000000});
  ASSERT_TRUE(created);
  NutWriter writer = std::move(created).value();
  std::vector<uint8_t> large(WRITE_BUFFER_BYTES + 1, 0x42);
  auto failed = writer.write_frame(0, large);
  reader.join();
  ASSERT_FALSE(failed);
  const std::string text = "failed to write NUT file " + fifo.string() + ": Broken pipe";
  EXPECT_EQ(nut_error_text(failed.error()), text);
  auto refused = writer.write_frame(1, std::vector<uint8_t>{1});
  ASSERT_FALSE(refused);
  EXPECT_EQ(nut_error_text(refused.error()), text);
  auto finished = std::move(writer).finish();
  sigaction(SIGPIPE, &previous, nullptr);
  ASSERT_FALSE(finished);
  EXPECT_EQ(nut_error_text(finished.error()), text);
}

}  // namespace
}  // namespace data_daemon_bridge
