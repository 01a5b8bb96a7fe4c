// The writer loop driven step by step on the test's own thread, with real PNG threads or with a
// PNG job queue the test serves itself, writing real chunk files that ffmpeg decodes.
#include "writer/writer_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "chunk_reader.h"
#include "clock/publish_clock.h"
#include "data_daemon_shared/spool.h"
#include "png/png_encoder.h"
#include "support/event_capture.h"
#include "test_support.h"
#include "writer/png_workers.h"
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
using data_daemon_shared::SourceFlushed;
using data_daemon_shared::Unit;
using data_daemon_shared::VideoChunkReady;
using testing::chunk_files;
using testing::source_stream_count;
using testing::stream_dir;
using testing::video_frame;

// Iterates until pred holds (bounded only so that a fault cannot hang the suite).
template <class Pred>
bool iterate_until(WriterLoop& loop, Pred pred) {
  for (int i = 0; i < 400; ++i) {
    if (pred()) return true;
    loop.iterate();
  }
  return false;
}

// Queues a barrier and iterates until the writer answered it.
template <class Barrier>
void serve_barrier(WriterQueue& queue, WriterLoop& loop, const std::string& robot_id) {
  auto [reply, waiter] = make_channel<Unit>();
  ASSERT_FALSE(enqueue_writer_job(queue, Barrier{std::move(reply), robot_id, 1}));
  std::atomic<bool> answered{false};
  std::thread wait([&, w = std::move(waiter)]() mutable { answered = w.receive().has_value(); });
  ASSERT_TRUE(iterate_until(loop, [&] { return queue.job_count() == 0; }));
  wait.join();
  EXPECT_TRUE(answered);
}

std::vector<std::string> record_kinds(const std::vector<Envelope>& records) {
  std::vector<std::string> kinds;
  for (const auto& record : records) {
    if (auto* chunk = std::get_if<VideoChunkReady>(&record)) {
      kinds.push_back("chunk " + chunk->robot_id + " " + chunk->name.value_or(""));
    } else if (auto* flushed = std::get_if<SourceFlushed>(&record)) {
      kinds.push_back("flushed " + flushed->robot_id);
    } else {
      kinds.push_back("other");
    }
  }
  return kinds;
}

class WriterLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::test_recordings_root(); }

  int64_t now() const { return publish_clock_ns(); }

  testing::RecordCapture records;
  testing::EventCapture events;
  std::shared_ptr<WriterQueue> queue = std::make_shared<WriterQueue>(0);
};

TEST(WriterThreads, PngThreadCountFromProcessorCount) {
  const struct {
    long processors;
    size_t threads;
  } cases[] = {{-1, 2}, {0, 2}, {1, 2}, {5, 2}, {6, 3}, {7, 3}, {8, 4}, {64, 4}};
  for (const auto& c : cases) EXPECT_EQ(png_thread_count(c.processors), c.threads) << c.processors;
}

TEST_F(WriterLoopTest, FramesOfTwoCamerasBecomeChunksThatDecodeToTheirPixels) {
  WriterLoop loop(queue, spawn_png_workers(2));
  loop.start();
  std::vector<VideoFrame> rgb, depth;
  const int64_t t = now();
  for (uint32_t k = 0; k < 5; ++k) {
    rgb.push_back(video_frame("decode", "rgb", t + k * 33'000'000, 8, 6, FrameDtype::Rgb8, k));
    depth.push_back(
        video_frame("decode", "depth", t + k * 33'000'000, 4, 4, FrameDtype::DepthF32, 100 + k));
    ASSERT_FALSE(enqueue_writer_job(*queue, testing::copy_of(rgb.back())));
    ASSERT_FALSE(enqueue_writer_job(*queue, testing::copy_of(depth.back())));
  }
  serve_barrier<FlushSource>(*queue, loop, "decode");

  auto got = records.take("decode");
  ASSERT_EQ(record_kinds(got).back(), "flushed decode");
  auto chunks = testing::chunk_records(got);
  ASSERT_EQ(chunks.size(), 2u);
  for (const auto& chunk : chunks) {
    const bool is_rgb = chunk.name == "rgb";
    const auto& sent = is_rgb ? rgb : depth;
    EXPECT_EQ(chunk.frame_count, 5u);
    EXPECT_EQ(chunk.dtype, is_rgb ? FrameDtype::Rgb8 : FrameDtype::DepthF32);
    const fs::path file = stream_dir("decode", 1, chunk.data_type, *chunk.name) /
                          ("chunk_" + std::to_string(chunk.chunk_start_ns) + "_" +
                           std::to_string(chunk.writer_thread_id) + ".nut");
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), chunk.bytes_written);

    // What ffmpeg decodes is what the PNG threads encoded from each frame, in arrival order.
    std::vector<uint8_t> expected;
    for (const auto& frame : sent) {
      std::vector<uint8_t> png = testing::encode_frame_png(frame);
      auto pixels = testing::reference_decode_png(png);
      ASSERT_EQ(pixels.exit_status, 0) << pixels.errors;
      expected.insert(expected.end(), pixels.output.begin(), pixels.output.end());
      EXPECT_EQ(chunk.frame_timestamps_ns[&frame - sent.data()], frame.meta.timestamp_ns);
    }
    auto decoded = testing::ffmpeg_decode_rgb24(file);
    ASSERT_EQ(decoded.exit_status, 0) << decoded.errors;
    EXPECT_EQ(decoded.output, expected) << *chunk.name;
  }
}

TEST_F(WriterLoopTest, FrameOfTheWrongSizeIsDroppedAndTheNextGoesOn) {
  WriterLoop loop(queue, spawn_png_workers(2));
  VideoFrame short_frame = video_frame("size", "cam", now(), 640, 480, FrameDtype::Rgb8, 1);
  short_frame.payload = PixelBytes(std::span(short_frame.payload).first(640 * 480 * 3 - 1));
  VideoFrame overflowing = video_frame("size", "cam", now(), 1, 1, FrameDtype::Rgb8, 1);
  overflowing.meta.layout = {4'294'967'295u, 4'294'967'295u, FrameDtype::DepthF32};
  ASSERT_FALSE(enqueue_writer_job(*queue, std::move(short_frame)));
  ASSERT_FALSE(enqueue_writer_job(*queue, std::move(overflowing)));
  ASSERT_FALSE(
      enqueue_writer_job(*queue, video_frame("size", "cam", now(), 2, 2, FrameDtype::Rgb8, 2)));
  serve_barrier<FlushSource>(*queue, loop, "size");

  std::vector<testing::CapturedEvent> warnings;
  for (const auto& e : events.events("data_daemon_bridge::writer")) {
    if (e.message == "video frame size disagrees with geometry; dropping frame") {
      warnings.push_back(e);
    }
  }
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].field("sensor_name"), "cam");
  EXPECT_EQ(warnings[0].field("expected"), "921600");
  EXPECT_EQ(warnings[0].field("actual"), "921599");
  EXPECT_EQ(warnings[0].field("dtype"), "Rgb8");
  EXPECT_EQ(warnings[1].field("expected"), "<none>");  // the product overflows 64 bits
  EXPECT_EQ(warnings[1].field("actual"), "3");
  EXPECT_EQ(warnings[1].field("dtype"), "DepthF32");

  auto chunks = testing::chunk_records(records.take("size"));
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].frame_count, 1u);
  EXPECT_EQ(chunks[0].width, 2u);
}

// The test plays the PNG threads: it takes the jobs and hands back their PNGs in any order.
class ManualPngThreads {
 public:
  std::shared_ptr<PngJobQueue> queue = std::make_shared<PngJobQueue>();
  PngJob take() { return queue->pop(); }
  static void finish(PngJob& job) {
    PngScratch scratch;
    uint64_t n = encode_png_rgb24(scratch, job.layout.width, job.layout.height, job.pixels);
    job.deliver(PixelBytes(std::span(scratch.png).first(n)));
  }
};

TEST_F(WriterLoopTest, PngsFinishingOutOfOrderAreWrittenInArrivalOrder) {
  ManualPngThreads png;
  WriterLoop loop(queue, png.queue);
  const int64_t t = now();
  for (uint32_t k = 0; k < 2; ++k) {
    ASSERT_FALSE(
        enqueue_writer_job(*queue, video_frame("order", "cam", t + k, 2, 2, FrameDtype::Rgb8, k)));
  }
  loop.iterate();
  loop.iterate();
  ASSERT_EQ(loop.pending(), 2u);
  PngJob first = png.take(), second = png.take();

  // The second is ready first: nothing is written, the harvest stops at the oldest.
  ManualPngThreads::finish(second);
  loop.iterate();
  EXPECT_EQ(loop.pending(), 2u);
  EXPECT_TRUE(chunk_files(stream_dir("order", 1, "RGB_IMAGES", "cam")).empty());

  // A ready PNG is written at the end of the next wait, though no job arrives.
  ManualPngThreads::finish(first);
  loop.iterate();
  EXPECT_EQ(loop.pending(), 0u);

  serve_barrier<FlushSource>(*queue, loop, "order");
  auto chunks = testing::chunk_records(records.take("order"));
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].frame_offsets_us, (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(chunks[0].frame_timestamps_ns, (std::vector<int64_t>{t, t + 1}));
}

TEST_F(WriterLoopTest, AtMostEightFramesAreInFlight) {
  ManualPngThreads png;
  WriterLoop loop(queue, png.queue);
  for (uint32_t k = 0; k < 9; ++k) {
    ASSERT_FALSE(
        enqueue_writer_job(*queue, video_frame("window", "cam", now(), 2, 2, FrameDtype::Rgb8, k)));
  }
  // The writer blocks on the oldest once the 8th job is out; the 9th frame stays queued.
  std::thread writer([&] {
    for (int i = 0; i < 8; ++i) loop.iterate();
  });
  std::vector<PngJob> jobs;
  for (int i = 0; i < 8; ++i) jobs.push_back(png.take());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(queue->job_count(), 1u);
  ManualPngThreads::finish(jobs[0]);
  writer.join();
  EXPECT_EQ(loop.pending(), 7u);
  EXPECT_EQ(queue->job_count(), 1u);

  for (size_t i = 1; i < jobs.size(); ++i) ManualPngThreads::finish(jobs[i]);
  std::thread encoder([&] {
    PngJob ninth = png.take();
    ManualPngThreads::finish(ninth);
  });
  loop.iterate();  // the 9th frame
  encoder.join();
  serve_barrier<FlushSource>(*queue, loop, "window");
  auto chunks = testing::chunk_records(records.take("window"));
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].frame_count, 9u);
}

TEST_F(WriterLoopTest, FailedCompressionDropsTheFrameWithAWarning) {
  ManualPngThreads png;
  WriterLoop loop(queue, png.queue);
  ASSERT_FALSE(
      enqueue_writer_job(*queue, video_frame("failed", "cam", now(), 2, 2, FrameDtype::Rgb8, 1)));
  ASSERT_FALSE(
      enqueue_writer_job(*queue, video_frame("failed", "cam", now(), 2, 2, FrameDtype::Rgb8, 2)));
  loop.iterate();
  loop.iterate();
  { PngJob lost = png.take(); }  // released unencoded: its slot learns the frame failed
  PngJob second = png.take();
  ManualPngThreads::finish(second);
  serve_barrier<FlushSource>(*queue, loop, "failed");

  size_t warned = 0;
  for (const auto& e : events.events("data_daemon_bridge::writer")) {
    if (e.message != "failed to compress video frame; dropping frame") continue;
    EXPECT_EQ(e.field("sensor_name"), "cam");
    EXPECT_NE(e.field("error"), "<none>");
    ++warned;
  }
  EXPECT_EQ(warned, 1u);
  auto chunks = testing::chunk_records(records.take("failed"));
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].frame_count, 1u);
}

TEST_F(WriterLoopTest, WithoutPngThreadsTheWriterEncodesItself) {
  WriterLoop loop(queue, nullptr);
  for (uint32_t k = 0; k < 10; ++k) {
    ASSERT_FALSE(enqueue_writer_job(
        *queue, video_frame("inline", "cam", now(), 3, 2, FrameDtype::DepthF16, k)));
  }
  serve_barrier<FlushSource>(*queue, loop, "inline");
  auto chunks = testing::chunk_records(records.take("inline"));
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].frame_count, 10u);
}

TEST_F(WriterLoopTest, FlushSealsTheSourcesChunksAfterEveryEarlierFrame) {
  WriterLoop loop(queue, spawn_png_workers(2));
  // Nothing of this source: only SourceFlushed.
  serve_barrier<FlushSource>(*queue, loop, "nothing");
  EXPECT_EQ(record_kinds(records.take("nothing")), (std::vector<std::string>{"flushed nothing"}));

  // Frames of another source queued before the barrier are written out first; that source's
  // chunk stays open.
  ASSERT_FALSE(
      enqueue_writer_job(*queue, video_frame("other", "cam", now(), 2, 2, FrameDtype::Rgb8, 1)));
  ASSERT_FALSE(
      enqueue_writer_job(*queue, video_frame("two", "a", now(), 2, 2, FrameDtype::Rgb8, 2)));
  ASSERT_FALSE(
      enqueue_writer_job(*queue, video_frame("two", "b", now(), 2, 2, FrameDtype::Rgb8, 3)));
  serve_barrier<FlushSource>(*queue, loop, "two");
  auto kinds = record_kinds(records.take("two"));
  ASSERT_EQ(kinds.size(), 3u);
  std::sort(kinds.begin(), kinds.end() - 1);
  EXPECT_EQ(kinds, (std::vector<std::string>{"chunk two a", "chunk two b", "flushed two"}));
  EXPECT_EQ(chunk_files(stream_dir("other", 1, "RGB_IMAGES", "cam")).size(), 1u);
  EXPECT_EQ(source_stream_count("two"), 0u);
  EXPECT_EQ(source_stream_count("other"), 1u);
  // Flushing again finds no stream: only SourceFlushed.
  serve_barrier<FlushSource>(*queue, loop, "two");
  EXPECT_EQ(record_kinds(records.take("two")), (std::vector<std::string>{"flushed two"}));
  serve_barrier<FlushSource>(*queue, loop, "other");
  records.take("other");
}

TEST_F(WriterLoopTest, CancelKeepsTheFilesAndAnnouncesNothing) {
  WriterLoop loop(queue, spawn_png_workers(2));
  for (uint32_t k = 0; k < 3; ++k) {
    ASSERT_FALSE(
        enqueue_writer_job(*queue, video_frame("cancel", "cam", now(), 4, 4, FrameDtype::Rgb8, k)));
  }
  serve_barrier<CancelSource>(*queue, loop, "cancel");
  EXPECT_TRUE(records.take("cancel").empty());
  auto files = chunk_files(stream_dir("cancel", 1, "RGB_IMAGES", "cam"));
  ASSERT_EQ(files.size(), 1u);
  // Every frame written so far is in the file, which is complete.
  testing::ChunkContents contents = testing::read_chunk(testing::read_file(files[0]));
  EXPECT_EQ(contents.error, "");
  EXPECT_EQ(contents.frames().size(), 3u);
  auto decoded = testing::ffmpeg_decode_rgb24(files[0]);
  EXPECT_EQ(decoded.exit_status, 0) << decoded.errors;
  EXPECT_EQ(decoded.output.size(), 3u * 4 * 4 * 3);

  // A later frame of the same stream starts a new state and a new chunk.
  ASSERT_FALSE(
      enqueue_writer_job(*queue, video_frame("cancel", "cam", now(), 4, 4, FrameDtype::Rgb8, 9)));
  serve_barrier<FlushSource>(*queue, loop, "cancel");
  auto chunks = testing::chunk_records(records.take("cancel"));
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].frame_count, 1u);
  EXPECT_EQ(chunk_files(stream_dir("cancel", 1, "RGB_IMAGES", "cam")).size(), 2u);
}

TEST_F(WriterLoopTest, IdleSweepSealsOnlyUnfedChunksOldEnough) {
  WriterLoop loop(queue, nullptr);
  const int64_t long_ago = now() - 10'000'000'000;
  auto write = [](const std::string& name, int64_t publish, int64_t ts) {
    FrameMeta frame = testing::frame_meta(name, publish, ts);
    frame.robot_id = "sweep";
    write_stream_frame(frame, std::vector<uint8_t>{1, 2, 3});
  };
  auto sweep = [&] {
    loop.idle_sweep();
    std::vector<std::string> sealed;
    for (const auto& chunk : testing::chunk_records(records.take("sweep"))) {
      sealed.push_back(*chunk.name);
    }
    return sealed;
  };
  using Names = std::vector<std::string>;

  write("old", long_ago, 0);
  write("young", now(), 0);
  write("fed", long_ago, 0);
  EXPECT_EQ(sweep(), Names{});  // every stream was written since the last sweep
  write("fed", long_ago + 1, 1'000);
  EXPECT_EQ(sweep(), Names{"old"});  // unfed and 5 s old; the young one is not old enough
  write("fed", long_ago + 2, 2'000);
  EXPECT_EQ(sweep(), Names{});
  EXPECT_EQ(sweep(), Names{"fed"});
  EXPECT_EQ(sweep(), Names{});  // sealed chunks stay sealed; the streams stay registered
  EXPECT_EQ(lock_stream_registry()->streams.count(stream_key("sweep", 1, "RGB_IMAGES", "old")), 1u);
  serve_barrier<CancelSource>(*queue, loop, "sweep");
}

TEST_F(WriterLoopTest, IdleWriterSweepsByItself) {
  WriterLoop loop(queue, nullptr);
  loop.start();
  ASSERT_FALSE(enqueue_writer_job(
      *queue, video_frame("idle", "cam", now() - 10'000'000'000, 2, 2, FrameDtype::Rgb8, 1)));
  std::vector<VideoChunkReady> sealed;
  EXPECT_TRUE(iterate_until(loop, [&] {
    sealed = testing::chunk_records(records.take("idle"));
    return !sealed.empty();
  }));
  ASSERT_EQ(sealed.size(), 1u);
  EXPECT_EQ(sealed[0].robot_id, "idle");
  serve_barrier<CancelSource>(*queue, loop, "idle");
}

TEST_F(WriterLoopTest, SpoolIsMeasuredOnlyWithABudget) {
  // No budget: nothing measures, whatever the spool holds.
  store_spool_bytes(*queue, 123);
  WriterLoop unmeasured(queue, nullptr);
  unmeasured.start();
  unmeasured.iterate();
  unmeasured.iterate();
  EXPECT_EQ(queue->spool_bytes(), 123u);

  // A budget: measured at start and after each sweep.
  const fs::path spool = testing::test_recordings_root() / ".rgb_spool";
  fs::create_directories(spool / "measure");
  testing::write_file(spool / "measure" / "backlog", std::vector<uint8_t>(4096));
  auto budgeted = std::make_shared<WriterQueue>(1);
  WriterLoop measured(budgeted, nullptr);
  measured.start();
  EXPECT_GE(budgeted->spool_bytes(), 4096u);
  EXPECT_EQ(budgeted->spool_bytes(), data_daemon_shared::dir_size_bytes(spool));
  store_spool_bytes(*budgeted, 0);
  measured.idle_sweep();
  EXPECT_EQ(budgeted->spool_bytes(), data_daemon_shared::dir_size_bytes(spool));
  fs::remove_all(spool / "measure");
}

}  // namespace
}  // namespace data_daemon_bridge
