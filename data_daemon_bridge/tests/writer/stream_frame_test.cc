// write_stream_frame and seal_chunk on real chunk files, read back with the strict chunk reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "chunk_reader.h"
#include "nut_writer/nut_format.h"
#include "port/thread_id.h"
#include "support/event_capture.h"
#include "test_support.h"
#include "writer/seal_chunk.h"
#include "writer/stream_key.h"
#include "writer/stream_registry.h"
#include "writer/stream_state.h"
#include "writer/write_stream_frame.h"
#include "writer/writer_test_support.h"

namespace data_daemon_bridge {
namespace {

namespace fs = std::filesystem;
using data_daemon_shared::Envelope;
using data_daemon_shared::FrameDtype;
using data_daemon_shared::VideoChunkReady;
using testing::chunk_files;
using testing::frame_meta;
using testing::stream_dir;

constexpr int64_t kT0 = 1'700'000'000'000'000'000;
const std::vector<uint8_t> kPng = {0x89, 'P', 'N', 'G'};  // the muxer stores any bytes as a frame

const std::string kWriterTarget = "data_daemon_bridge::writer";

constexpr std::string_view kPtsWarning =
    "video frame timestamp did not advance past the previous frame's PTS; synthesizing step "
    "(logged once per chunk)";

std::string data_type_of(FrameDtype dtype) {
  return dtype == FrameDtype::Rgb8 ? "RGB_IMAGES" : "DEPTH_IMAGES";
}

std::shared_ptr<SharedStream> find_stream(const std::string& name, FrameDtype dtype) {
  auto registry = lock_stream_registry();
  auto it = registry->streams.find(stream_key("r", 1, data_type_of(dtype), name));
  return it == registry->streams.end() ? nullptr : it->second;
}

// Seals the stream's open chunk as a flush would; the record, if any.
std::optional<Envelope> seal(const std::string& name, FrameDtype dtype = FrameDtype::Rgb8) {
  std::shared_ptr<SharedStream> stream = find_stream(name, dtype);
  if (!stream) return std::nullopt;
  std::lock_guard lock(stream->mutex);
  return seal_chunk(stream->state, "r", 1, data_type_of(dtype), name);
}

std::vector<uint64_t> frame_pts(const fs::path& chunk) {
  testing::ChunkContents contents = testing::read_chunk(testing::read_file(chunk));
  EXPECT_EQ(contents.error, "") << chunk;
  std::vector<uint64_t> pts;
  for (const auto& frame : contents.frames()) pts.push_back(frame.pts);
  return pts;
}

size_t count_events(const testing::EventCapture& events, std::string_view message,
                    const std::string& sensor) {
  size_t n = 0;
  for (const auto& e : events.events(kWriterTarget)) {
    n += e.message == message && e.field("sensor_name") == sensor;
  }
  return n;
}

class StreamFrame : public ::testing::Test {
 protected:
  void SetUp() override { testing::test_recordings_root(); }

  testing::RecordCapture records;
  testing::EventCapture events;
};

TEST_F(StreamFrame, FirstFrameOpensAChunkThatTheSealAnnounces) {
  for (int k = 0; k < 3; ++k) {
    write_stream_frame(frame_meta("announce", kT0 + k * 10'000'000, kT0 + k * 33'333'000), kPng);
  }
  EXPECT_TRUE(records.take().empty());  // nothing is announced before the seal

  std::optional<Envelope> record = seal("announce");
  ASSERT_TRUE(record && std::holds_alternative<VideoChunkReady>(*record));
  const auto& chunk = std::get<VideoChunkReady>(*record);
  EXPECT_EQ(chunk.robot_id, "r");
  EXPECT_EQ(chunk.robot_instance, 1);
  EXPECT_EQ(chunk.data_type, "RGB_IMAGES");
  EXPECT_EQ(chunk.name, "announce");
  EXPECT_EQ(chunk.chunk_start_ns, kT0);
  EXPECT_EQ(chunk.writer_thread_id, port::current_thread_id());
  EXPECT_EQ(chunk.producer_pid, static_cast<uint32_t>(getpid()));
  EXPECT_EQ(chunk.width, 4u);
  EXPECT_EQ(chunk.height, 2u);
  EXPECT_EQ(chunk.dtype, FrameDtype::Rgb8);
  EXPECT_EQ(chunk.frame_count, 3u);
  EXPECT_EQ(chunk.frame_timestamps_ns,
            (std::vector<int64_t>{kT0, kT0 + 33'333'000, kT0 + 66'666'000}));
  EXPECT_EQ(chunk.frame_timestamps_s.size(), 3u);
  EXPECT_DOUBLE_EQ(chunk.frame_timestamps_s[1], static_cast<double>(kT0 + 33'333'000) / 1e9);
  EXPECT_EQ(chunk.frame_offsets_us, (std::vector<uint32_t>{0, 10'000, 20'000}));

  const fs::path file =
      stream_dir("r", 1, "RGB_IMAGES", "announce") /
      ("chunk_" + std::to_string(kT0) + "_" + std::to_string(port::current_thread_id()) + ".nut");
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::file_size(file), chunk.bytes_written);
  EXPECT_EQ(frame_pts(file), (std::vector<uint64_t>{0, 33'333, 66'666}));

  // A second seal finds no open chunk and changes nothing.
  EXPECT_FALSE(seal("announce").has_value());
  std::shared_ptr<SharedStream> stream = find_stream("announce", FrameDtype::Rgb8);
  std::lock_guard lock(stream->mutex);
  EXPECT_EQ(stream->state.chunk_start_ns, kT0);
  EXPECT_EQ(stream->state.last_pts_us, 66'666u);
  EXPECT_EQ(stream->state.last_step_us, 33'333u);
}

TEST_F(StreamFrame, PtsFollowsCaptureTimeAndIsSynthesisedWhenItDoesNotAdvance) {
  const struct {
    std::string name;
    std::vector<int64_t> timestamps_ns;
    std::vector<uint64_t> pts;
    size_t warnings;
  } cases[] = {
      {"steady", {0, 33'333'000, 66'666'000}, {0, 33'333, 66'666}, 0},
      {"same-time", {5'000, 5'000, 5'000}, {0, 1'000, 2'000}, 1},
      {"repeat-after-steps",
       {0, 33'333'000, 66'666'000, 66'666'000, 99'999'000},
       {0, 33'333, 66'666, 99'999, 133'332},
       1},
      {"big-gap-keeps-step",
       {0, 33'333'000, 2'033'333'000, 2'033'333'000},
       {0, 33'333, 2'033'333, 2'066'666},
       1},
      {"clock-back", {1'000'000'000, 1'033'333'000, 33'333'000}, {0, 33'333, 66'666}, 1},
      {"small-step-raised", {0, 500'000, 500'000}, {0, 500, 1'500}, 1},
      // ns -> µs rounds toward zero: -1,999 ns is -1 µs and 1,999 ns is 1 µs.
      {"toward-zero", {-1'999, 1'999}, {0, 2}, 0},
  };
  for (const auto& c : cases) {
    for (size_t k = 0; k < c.timestamps_ns.size(); ++k) {
      write_stream_frame(frame_meta(c.name, kT0 + static_cast<int64_t>(k), c.timestamps_ns[k]),
                         kPng);
    }
    ASSERT_TRUE(seal(c.name).has_value()) << c.name;
    auto files = chunk_files(stream_dir("r", 1, "RGB_IMAGES", c.name));
    ASSERT_EQ(files.size(), 1u) << c.name;
    EXPECT_EQ(frame_pts(files[0]), c.pts) << c.name;
    EXPECT_EQ(count_events(events, kPtsWarning, c.name), c.warnings) << c.name;
  }
}

TEST_F(StreamFrame, PtsWarningOncePerChunkWithItsFields) {
  for (int k = 0; k < 4; ++k) write_stream_frame(frame_meta("warn", kT0, 7'000'000), kPng);
  ASSERT_EQ(count_events(events, kPtsWarning, "warn"), 1u);
  for (const auto& e : events.events(kWriterTarget)) {
    if (e.message != kPtsWarning) continue;
    EXPECT_EQ(e.target, "data_daemon_bridge::writer");
    EXPECT_EQ(e.field("timestamp_us"), "7000");
    EXPECT_EQ(e.field("previous_pts_us"), "0");
    EXPECT_EQ(e.field("step_us"), "1000");
    EXPECT_EQ(e.field("behind_us"), "0");
  }
  ASSERT_TRUE(seal("warn").has_value());
  // The next chunk may warn once again.
  for (int k = 0; k < 3; ++k) write_stream_frame(frame_meta("warn", kT0, 7'000'000), kPng);
  EXPECT_EQ(count_events(events, kPtsWarning, "warn"), 2u);
}

TEST_F(StreamFrame, GeometryOrDtypeChangeSealsTheChunkWithTheOldValues) {
  const struct {
    std::string name;
    uint32_t old_width, old_height, new_width, new_height;
    FrameDtype old_dtype, new_dtype;
  } cases[] = {
      {"dtype-change", 2, 2, 2, 2, FrameDtype::DepthF16, FrameDtype::DepthF32},
      {"geometry-change", 4, 2, 2, 4, FrameDtype::Rgb8, FrameDtype::Rgb8},
  };
  for (const auto& c : cases) {
    const std::string data_type = data_type_of(c.old_dtype);
    // Same data_type on both sides: one stream.
    ASSERT_EQ(data_type, data_type_of(c.new_dtype));
    write_stream_frame(frame_meta(c.name, kT0, 0, c.old_width, c.old_height, c.old_dtype), kPng);
    write_stream_frame(
        frame_meta(c.name, kT0 + 1, 33'333'000, c.old_width, c.old_height, c.old_dtype), kPng);
    EXPECT_TRUE(records.take().empty());
    write_stream_frame(
        frame_meta(c.name, kT0 + 2, 66'666'000, c.new_width, c.new_height, c.new_dtype), kPng);

    auto sealed = testing::chunk_records(records.take());
    ASSERT_EQ(sealed.size(), 1u) << c.name;
    EXPECT_EQ(sealed[0].dtype, c.old_dtype) << c.name;
    EXPECT_EQ(sealed[0].width, c.old_width) << c.name;
    EXPECT_EQ(sealed[0].height, c.old_height) << c.name;
    EXPECT_EQ(sealed[0].frame_count, 2u) << c.name;

    size_t warnings = 0;
    for (const auto& e : events.events(kWriterTarget)) {
      if (e.field("sensor_name") != c.name) continue;
      ASSERT_EQ(e.message,
                "video frame geometry or dtype changed mid-stream; sealing chunk and reopening");
      EXPECT_EQ(e.field("old_width"), std::to_string(c.old_width));
      EXPECT_EQ(e.field("old_height"), std::to_string(c.old_height));
      EXPECT_EQ(e.field("new_width"), std::to_string(c.new_width));
      EXPECT_EQ(e.field("new_height"), std::to_string(c.new_height));
      EXPECT_EQ(e.field("old_dtype"), data_daemon_shared::frame_dtype_name(c.old_dtype));
      EXPECT_EQ(e.field("new_dtype"), data_daemon_shared::frame_dtype_name(c.new_dtype));
      ++warnings;
    }
    EXPECT_EQ(warnings, 1u) << c.name;

    // The new chunk starts over at PTS 0 with the new geometry.
    auto reopened = seal(c.name, c.new_dtype);
    ASSERT_TRUE(reopened.has_value());
    const auto& chunk = std::get<VideoChunkReady>(*reopened);
    EXPECT_EQ(chunk.width, c.new_width);
    EXPECT_EQ(chunk.dtype, c.new_dtype);
    auto files = chunk_files(stream_dir("r", 1, data_type, c.name));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(frame_pts(files[1]), (std::vector<uint64_t>{0}));
  }
}

TEST_F(StreamFrame, LimitsSealAfterTheFrameThatReachesThem) {
  // Raw picture bytes: 43 full-HD frames (267,494,400 bytes) stay open, the 44th seals.
  for (int k = 0; k < 44; ++k) {
    if (k == 43) {
      EXPECT_TRUE(records.take().empty());
    }
    write_stream_frame(frame_meta("raw-bytes", kT0, k * 33'333'000LL, 1920, 1080), kPng);
  }
  auto by_bytes = testing::chunk_records(records.take());
  ASSERT_EQ(by_bytes.size(), 1u);
  EXPECT_EQ(by_bytes[0].frame_count, 44u);

  // Frame count: 45,411 frames stay open, the 45,412th seals.
  for (int64_t k = 0; k < 45'412; ++k) {
    if (k == 45'411) {
      EXPECT_TRUE(records.take().empty());
    }
    write_stream_frame(frame_meta("frame-count", kT0, k * 1'000'000, 1, 1), kPng);
  }
  auto by_count = testing::chunk_records(records.take());
  ASSERT_EQ(by_count.size(), 1u);
  EXPECT_EQ(by_count[0].frame_count, 45'412u);
  EXPECT_EQ(by_count[0].frame_timestamps_ns.size(), 45'412u);
  EXPECT_EQ(by_count[0].frame_timestamps_s.size(), 45'412u);
  EXPECT_EQ(by_count[0].frame_offsets_us.size(), 45'412u);

  // Span: 4,999,999,999 ns after the start stays open, 5,000,000,000 ns seals.
  write_stream_frame(frame_meta("span", kT0, 0), kPng);
  write_stream_frame(frame_meta("span", kT0 + 4'999'999'999, 1'000), kPng);
  EXPECT_TRUE(records.take().empty());
  write_stream_frame(frame_meta("span", kT0 + 5'000'000'000, 2'000), kPng);
  auto by_span = testing::chunk_records(records.take());
  ASSERT_EQ(by_span.size(), 1u);
  EXPECT_EQ(by_span[0].frame_count, 3u);
  EXPECT_EQ(by_span[0].frame_offsets_us, (std::vector<uint32_t>{0, 4'999'999, 5'000'000}));
}

TEST_F(StreamFrame, ChunkStartsOfAStreamStrictlyIncrease) {
  write_stream_frame(frame_meta("starts", kT0, 0), kPng);
  ASSERT_TRUE(seal("starts").has_value());
  // Same publish nanosecond: the next chunk starts one later, in another file.
  write_stream_frame(frame_meta("starts", kT0, 1'000), kPng);
  auto second = seal("starts");
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(std::get<VideoChunkReady>(*second).chunk_start_ns, kT0 + 1);
  // The clock stepped back: the start still moves on, and the frame's offset is 0.
  write_stream_frame(frame_meta("starts", kT0 - 500, 2'000), kPng);
  auto third = seal("starts");
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(std::get<VideoChunkReady>(*third).chunk_start_ns, kT0 + 2);
  EXPECT_EQ(std::get<VideoChunkReady>(*third).frame_offsets_us, (std::vector<uint32_t>{0}));
  EXPECT_EQ(chunk_files(stream_dir("r", 1, "RGB_IMAGES", "starts")).size(), 3u);
}

// The stream's directory on a small tmpfs filled to the last byte (the tests run as root;
// without the right to mount, the test skips): a frame too large for the muxer's buffer fails
// its write and a buffered chunk fails its finish, each with its WARN, and once space is back
// the stream writes and announces whole chunks again.
TEST_F(StreamFrame, OnAFullFileSystemFramesAndChunksAreDroppedWithWarningsAndTheStreamGoesOn) {
  const fs::path dir = stream_dir("r", 1, "RGB_IMAGES", "full");
  fs::create_directories(dir);
  auto mounted = testing::run_command("mount -t tmpfs -o size=1m tmpfs " +
                                      testing::shell_quoted(dir) + " 2>/dev/null");
  if (mounted.exit_status != 0) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  struct Unmount {
    fs::path dir;
    ~Unmount() { testing::run_command("umount " + testing::shell_quoted(dir)); }
  } unmount{dir};
  {
    std::ofstream filler(dir / "filler", std::ios::binary);
    const std::vector<char> block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())).flush()) {
    }
  }

  const std::vector<uint8_t> huge(WRITE_BUFFER_BYTES, 0x42);  // goes past the buffer
  write_stream_frame(frame_meta("full", kT0, 0), huge);
  write_stream_frame(frame_meta("full", kT0 + 1'000, 1'000), kPng);  // stays buffered
  EXPECT_FALSE(seal("full").has_value());
  EXPECT_EQ(
      count_events(events, "failed to write video frame to NUT chunk; dropping frame", "full"), 1u);
  EXPECT_EQ(count_events(events, "failed to finalise NUT chunk; dropping chunk", "full"), 1u);
  EXPECT_TRUE(records.take().empty());

  fs::remove(dir / "filler");
  write_stream_frame(frame_meta("full", kT0 + 2'000, 2'000), kPng);
  auto record = seal("full");
  ASSERT_TRUE(record.has_value());
  const auto& chunk = std::get<VideoChunkReady>(*record);
  EXPECT_EQ(chunk.frame_count, 1u);
  const fs::path file = dir / ("chunk_" + std::to_string(chunk.chunk_start_ns) + "_" +
                               std::to_string(chunk.writer_thread_id) + ".nut");
  EXPECT_EQ(fs::file_size(file), chunk.bytes_written);
  EXPECT_EQ(frame_pts(file), (std::vector<uint64_t>{0}));
}

TEST_F(StreamFrame, FailedChunkOpeningDropsTheFrameAndTheNextTriesALaterStart) {
  const fs::path dir = stream_dir("r", 1, "RGB_IMAGES", "blocked");
  fs::create_directories(dir.parent_path());
  std::ofstream(dir) << "a file where the stream directory belongs";

  write_stream_frame(frame_meta("blocked", kT0, 0), kPng);
  size_t warned = 0;
  for (const auto& e : events.events(kWriterTarget)) {
    if (e.field("sensor_name") != "blocked") continue;
    EXPECT_EQ(e.message, "failed to open NUT chunk; dropping frame");
    EXPECT_EQ(e.field("path"), (dir / ("chunk_" + std::to_string(kT0) + "_" +
                                       std::to_string(port::current_thread_id()) + ".nut"))
                                   .string());
    EXPECT_NE(e.field("error").find("failed to open NUT file"), std::string::npos);
    ++warned;
  }
  EXPECT_EQ(warned, 1u);
  EXPECT_FALSE(seal("blocked").has_value());

  fs::remove(dir);
  write_stream_frame(frame_meta("blocked", kT0, 1'000), kPng);
  auto record = seal("blocked");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(std::get<VideoChunkReady>(*record).chunk_start_ns, kT0 + 1);
  EXPECT_EQ(std::get<VideoChunkReady>(*record).frame_count, 1u);
  auto files = chunk_files(dir);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(frame_pts(files[0]), (std::vector<uint64_t>{0}));
}

}  // namespace
}  // namespace data_daemon_bridge
