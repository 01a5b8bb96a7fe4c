// Memory that runs out on the video writer's thread and in the PNG jobs. An address-space limit
// in a forked child makes a chunk's 8 MiB buffer unobtainable for real; failing allocations
// (support/allocation_faults.h) reach every other allocation of the loop, one at a time and from
// one on. Whatever fails, nothing leaves the loop as an exception, every barrier's wait ends, the
// streams' announcements and files agree, and once memory is back the next frame and flush work.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "chunk_reader.h"
#include "clock/publish_clock.h"
#include "support/address_space.h"
#include "support/allocation_faults.h"
#include "support/event_capture.h"
#include "support/forked_child.h"
#include "test_support.h"
#include "writer/png_workers.h"
#include "writer/stream_key.h"
#include "writer/stream_registry.h"
#include "writer/writer_loop.h"
#include "writer/writer_test_support.h"

namespace data_daemon_bridge {
namespace {

namespace fs = std::filesystem;
using data_daemon_shared::Envelope;
using data_daemon_shared::FrameDtype;
using data_daemon_shared::SourceFlushed;
using data_daemon_shared::VideoChunkReady;
using testing::AllocationFaults;
using testing::source_stream_count;
using testing::video_frame;

constexpr int64_t kSecond = 1'000'000'000;

// Queues a barrier; its waiter.
template <class Barrier>
ReplyReceiver queue_barrier(WriterQueue& queue, const std::string& robot_id) {
  auto [reply, waiter] = make_channel<data_daemon_shared::Unit>();
  (void)enqueue_writer_job(queue, Barrier{std::move(reply), robot_id, 1});
  return std::move(waiter);
}

// Serves every queued job.
void serve_all(WriterLoop& loop, const WriterQueue& queue) {
  while (queue.job_count() > 0) loop.iterate();
}

// "chunk NAME [timestamps]" for an announcement, "flushed" for SourceFlushed.
std::vector<std::string> summary(const std::vector<Envelope>& records) {
  std::vector<std::string> out;
  for (const Envelope& record : records) {
    if (const auto* chunk = std::get_if<VideoChunkReady>(&record)) {
      std::string line = "chunk " + chunk->name.value_or("");
      for (int64_t t : chunk->frame_timestamps_ns) line += " " + std::to_string(t);
      out.push_back(line);
    } else if (std::holds_alternative<SourceFlushed>(record)) {
      out.push_back("flushed");
    }
  }
  return out;
}

// An announcement agrees with itself and with its file: one entry a frame in each list, and the
// file, read strictly, is as long as announced and holds exactly that many whole frames.
void expect_consistent(const VideoChunkReady& chunk) {
  SCOPED_TRACE(chunk.name.value_or(""));
  EXPECT_EQ(chunk.frame_timestamps_ns.size(), chunk.frame_count);
  EXPECT_EQ(chunk.frame_timestamps_s.size(), chunk.frame_count);
  EXPECT_EQ(chunk.frame_offsets_us.size(), chunk.frame_count);
  const fs::path file =
      testing::stream_dir(chunk.robot_id, chunk.robot_instance, chunk.data_type, *chunk.name) /
      ("chunk_" + std::to_string(chunk.chunk_start_ns) + "_" +
       std::to_string(chunk.writer_thread_id) + ".nut");
  const std::vector<uint8_t> bytes = testing::read_file(file);
  EXPECT_EQ(bytes.size(), chunk.bytes_written);
  const testing::ChunkContents contents = testing::read_chunk(bytes);
  EXPECT_EQ(contents.error, "");
  EXPECT_EQ(contents.frames().size(), chunk.frame_count);
}

size_t open_descriptors() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

TEST(WriterOutOfMemory, AChunkWhoseBufferFindsNoRoomCostsTheFrameAndTheNextFrameOpensOne) {
  if (!testing::kAddressSpaceLimitWorks) {
    GTEST_SKIP() << "the sanitizer's shadow memory fits under no address-space limit";
  }
  testing::test_recordings_root();
  EXPECT_EQ(
      testing::run_in_child([] {
        testing::RecordCapture records;
        testing::EventCapture events;
        auto queue = std::make_shared<WriterQueue>(0);
        // Encodes on this thread: no thread needs to start under the limit.
        WriterLoop loop(queue, nullptr);
        loop.start();
        const int64_t t = publish_clock_ns();
        auto log = [&](int64_t at) {
          (void)enqueue_writer_job(*queue,
                                   video_frame("limit", "cam", at, 4, 2, FrameDtype::Rgb8, 1));
          ReplyReceiver flushed = queue_barrier<FlushSource>(*queue, "limit");
          serve_all(loop, *queue);
          return flushed.receive().has_value();
        };
        // What the process makes once (the registry, the PNG scratch) is there before.
        CHILD_CHECK(log(t));
        CHILD_CHECK(summary(records.take("limit")).size() == 2);

        // Room for small allocations, not for the new chunk's buffer.
        const fs::path dir = testing::stream_dir("limit", 1, "RGB_IMAGES", "cam");
        const size_t files = testing::chunk_files(dir).size();
        const size_t descriptors = open_descriptors();
        CHILD_CHECK(testing::limit_address_space(4 << 20));
        const bool answered = log(t + 1);
        CHILD_CHECK(testing::lift_address_space_limit());
        CHILD_CHECK(answered);
        // The chunk that could not be had left no file behind, and none open.
        CHILD_CHECK(testing::chunk_files(dir).size() == files);
        CHILD_CHECK(open_descriptors() == descriptors);
        CHILD_CHECK(summary(records.take("limit")) == std::vector<std::string>{"flushed"});
        const auto warnings = events.events(std::string(kWriterLogTarget));
        CHILD_CHECK(std::any_of(warnings.begin(), warnings.end(), [](const auto& e) {
          return e.message == "out of memory; dropping frame" && e.field("sensor_name") == "cam";
        }));

        CHILD_CHECK(log(t + 2));
        const auto after = records.take("limit");
        CHILD_CHECK(summary(after) ==
                    (std::vector<std::string>{"chunk cam " + std::to_string(t + 2), "flushed"}));
        CHILD_CHECK(testing::chunk_records(after)[0].frame_count == 1);
        return 0;
      }),
      "exit 0");
}

// Names longer than a string's inline buffer, so that copies of them allocate as well.
const std::string kRobot = "robot-under-allocation-faults";           // flushed, then cancelled
const std::string kIdleRobot = "idle-robot-under-allocation-faults";  // sealed by the idle sweep
std::string camera(const char* which) { return std::string("camera-") + which + "-of-the-robot"; }

// Everything the loop does, at least once: two frames with one capture time (a synthesised PTS
// and its warning), a geometry change (a seal while a frame is written), a depth frame (its
// conversion), a flush of two open chunks, a frame the cancel drops, and a chunk old enough for
// the idle sweep. Returns the waiters of the two barriers.
std::vector<ReplyReceiver> queue_scenario(WriterQueue& queue, int64_t t) {
  auto frame = [&](const std::string& robot, const char* which, int64_t at, uint32_t w, uint32_t h,
                   FrameDtype dtype) {
    (void)enqueue_writer_job(queue, video_frame(robot, camera(which), at, w, h, dtype, 7));
  };
  std::vector<ReplyReceiver> waiters;
  frame(kRobot, "a", t, 4, 2, FrameDtype::Rgb8);
  frame(kRobot, "a", t, 4, 2, FrameDtype::Rgb8);
  frame(kRobot, "a", t + 1, 2, 2, FrameDtype::Rgb8);
  frame(kRobot, "b", t, 4, 4, FrameDtype::DepthF16);
  waiters.push_back(queue_barrier<FlushSource>(queue, kRobot));
  frame(kRobot, "c", t + 2, 2, 2, FrameDtype::Rgb8);
  waiters.push_back(queue_barrier<CancelSource>(queue, kRobot));
  frame(kIdleRobot, "d", t - 10 * kSecond, 2, 2, FrameDtype::Rgb8);
  return waiters;
}

void run_scenario(WriterLoop& loop, const WriterQueue& queue) {
  serve_all(loop, queue);
  loop.idle_sweep();  // clears what the frame of "d" set
  loop.idle_sweep();  // seals "d": unfed since the last sweep, started 10 s ago
}

TEST(WriterOutOfMemory, WhicheverAllocationFailsTheLoopGoesOnAndItsStreamsStayWhole) {
  testing::test_recordings_root();
  testing::RecordCapture records;
  testing::EventCapture events;
  for (const bool sustained : {false, true}) {
    auto queue = std::make_shared<WriterQueue>(0);
    // Encodes on this thread, so that the PNG jobs' allocations fail too.
    WriterLoop loop(queue, nullptr);
    loop.start();
    // A first run unarmed: what the process makes once is there for every run after it.
    std::vector<ReplyReceiver> warm = queue_scenario(*queue, publish_clock_ns());
    run_scenario(loop, *queue);
    for (ReplyReceiver& waiter : warm) ASSERT_TRUE(waiter.receive().has_value());
    records.take();

    for (uint64_t fail_at = 1;; ++fail_at) {
      SCOPED_TRACE((sustained ? "every allocation from #" : "allocation #") +
                   std::to_string(fail_at));
      ASSERT_LT(fail_at, 100'000u);
      std::vector<ReplyReceiver> waiters = queue_scenario(*queue, publish_clock_ns());
      bool escaped = false;
      uint64_t failures = 0;
      {
        AllocationFaults faults(fail_at, sustained);
        try {
          run_scenario(loop, *queue);
        } catch (...) {
          escaped = true;
        }
        failures = faults.failures();
      }
      ASSERT_FALSE(escaped);
      EXPECT_EQ(loop.pending(), 0u);
      for (ReplyReceiver& waiter : waiters) (void)waiter.receive();  // answered or released

      // The flush took every stream of the source out, the cancel what came after.
      EXPECT_EQ(source_stream_count(kRobot), 0u);
      std::vector<Envelope> got = records.take(kRobot);
      for (const VideoChunkReady& chunk : testing::chunk_records(got)) expect_consistent(chunk);
      const std::vector<std::string> kinds = summary(got);
      // No chunk of the source is announced after its SourceFlushed.
      const auto flushed = std::find(kinds.begin(), kinds.end(), "flushed");
      if (flushed != kinds.end()) {
        EXPECT_EQ(flushed + 1, kinds.end());
      }

      // With memory back, the next frame gets a chunk of its own and the flush announces it.
      const int64_t t = publish_clock_ns();
      (void)enqueue_writer_job(*queue,
                               video_frame(kRobot, camera("a"), t, 4, 2, FrameDtype::Rgb8, 1));
      std::vector<ReplyReceiver> after;
      after.push_back(queue_barrier<FlushSource>(*queue, kRobot));
      after.push_back(queue_barrier<FlushSource>(*queue, kIdleRobot));
      serve_all(loop, *queue);
      for (ReplyReceiver& waiter : after) EXPECT_TRUE(waiter.receive().has_value());
      got = records.take(kRobot);
      EXPECT_EQ(summary(got), (std::vector<std::string>{
                                  "chunk " + camera("a") + " " + std::to_string(t), "flushed"}));
      for (const VideoChunkReady& chunk : testing::chunk_records(got)) expect_consistent(chunk);
      for (const VideoChunkReady& chunk : testing::chunk_records(records.take(kIdleRobot))) {
        expect_consistent(chunk);
      }
      if (failures == 0) break;  // past the scenario's last allocation
    }
  }
}

TEST(PngOutOfMemory, AJobReleasedWithNoMemoryLeftStillFailsItsSlot) {
  auto slot = std::make_shared<PngResultSlot>();
  {
    PixelBytes pixels(std::vector<uint8_t>{1, 2, 3});
    AllocationFaults none_left(1, true);
    PngJob job(std::move(pixels), slot, {1, 1, FrameDtype::Rgb8});
  }  // released unencoded, with every allocation failing
  std::optional<PngOutcome> outcome = slot->try_take();
  ASSERT_TRUE(outcome);
  ASSERT_FALSE(*outcome);
  EXPECT_EQ(outcome->error().reason, "out of memory");
}

struct PngRun {
  std::optional<PngOutcome> outcome;  // what the slot got
  bool escaped = false;               // run_png_job threw
  uint64_t failures = 0;              // allocations made to fail
};

// Encodes a copy of the frame on this thread; only run_png_job runs while the faults are armed.
PngRun encode(const VideoFrame& frame, uint64_t fail_at, bool sustained) {
  PngRun run;
  auto slot = std::make_shared<PngResultSlot>();
  PngJob job(PixelBytes(std::span(frame.payload)), slot, frame.meta.layout);
  {
    AllocationFaults faults(fail_at, sustained);
    try {
      run_png_job(std::move(job));
    } catch (...) {
      run.escaped = true;
    }
    run.failures = faults.failures();
  }
  run.outcome = slot->try_take();
  return run;
}

std::vector<uint8_t> bytes_of(const PixelBytes& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(PngOutOfMemory, WhicheverAllocationFailsTheJobDeliversAnOutcomeAndTheThreadGoesOn) {
  const VideoFrame depth = video_frame("png", "depth", 1, 16, 8, FrameDtype::DepthF32, 3);
  // One byte short: the conversion panics with a text longer than a string's inline buffer.
  VideoFrame short_depth = testing::copy_of(depth);
  short_depth.meta.name = "short";
  short_depth.payload = PixelBytes(std::span(depth.payload).first(depth.payload.size() - 1));
  const std::vector<uint8_t> expected = testing::encode_frame_png(depth);
  const std::vector<std::string> short_reasons{
      "depth_to_rgb24: buffer is 511 bytes; expected exactly 512 bytes for a 16x8 DepthF32 frame. "
      "The caller must validate frame size before calling — this is an internal invariant "
      "violation, not user input.",
      "std::bad_alloc", "out of memory"};

  for (const bool sustained : {false, true}) {
    for (const VideoFrame* frame : {&depth, static_cast<const VideoFrame*>(&short_depth)}) {
      for (uint64_t fail_at = 1;; ++fail_at) {
        SCOPED_TRACE((sustained ? "every allocation from #" : "allocation #") +
                     std::to_string(fail_at) + " of " + frame->meta.name);
        ASSERT_LT(fail_at, 10'000u);
        PngRun run = encode(*frame, fail_at, sustained);
        ASSERT_FALSE(run.escaped);
        ASSERT_TRUE(run.outcome);  // the slot always gets its outcome
        if (*run.outcome) {
          EXPECT_EQ(frame, &depth);
          EXPECT_EQ(bytes_of(run.outcome->value()), expected);
        } else if (frame == &short_depth) {
          const std::string& reason = run.outcome->error().reason;
          EXPECT_NE(std::find(short_reasons.begin(), short_reasons.end(), reason),
                    short_reasons.end())
              << reason;
        }
        // The thread's next image is whole again.
        PngRun later = encode(depth, UINT64_MAX, false);
        ASSERT_TRUE(later.outcome && *later.outcome);
        EXPECT_EQ(bytes_of(later.outcome->value()), expected);
        if (run.failures == 0) break;
      }
    }
  }
}

}  // namespace
}  // namespace data_daemon_bridge
