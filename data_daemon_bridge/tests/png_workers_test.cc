#include "writer/png_workers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "events/events.h"
#include "png/png_encoder.h"
#include "port/thread.h"
#include "test_support.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::FrameDtype;
using data_daemon_shared::Result;
using data_daemon_shared::Unit;

std::vector<uint8_t> bytes_of(const PixelBytes& bytes) { return {bytes.begin(), bytes.end()}; }

// Starts threads for real, but records what was asked and the name each thread shows; the
// start whose name ends with the fail suffix fails instead. A starter is a plain function, so the
// record is the process's; each RecordingStarter begins it anew. It is never released, since the
// threads it started never end.
class RecordingStarter {
 public:
  explicit RecordingStarter(std::string fail_suffix = "") {
    std::lock_guard lock(state().mutex);
    state().fail_suffix = std::move(fail_suffix);
    state().requested.clear();
    state().shown.clear();
  }

  ThreadStarter starter() { return start; }

  // The names the started threads show, once count of them run (bounded only against a hang).
  std::set<std::string> shown_names(size_t count) {
    std::unique_lock lock(state().mutex);
    state().started.wait_for(lock, std::chrono::seconds(30),
                             [&] { return state().shown.size() >= count; });
    return state().shown;
  }

  std::vector<std::pair<std::string, size_t>> requested() {
    std::lock_guard lock(state().mutex);
    return state().requested;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable started;
    std::string fail_suffix;                                // guarded by mutex
    std::vector<std::pair<std::string, size_t>> requested;  // guarded by mutex
    std::set<std::string> shown;                            // guarded by mutex
  };

  static State& state() {
    static State& state = *new State;
    return state;
  }

  static Result<Unit, std::string> start(std::string name, size_t stack_bytes,
                                         std::function<void()> body) {
    {
      std::lock_guard lock(state().mutex);
      state().requested.push_back({name, stack_bytes});
      const std::string& fail_suffix = state().fail_suffix;
      if (!fail_suffix.empty() && name.ends_with(fail_suffix)) {
        return data_daemon_shared::Err(std::string("Resource temporarily unavailable"));
      }
    }
    return port::start_detached_thread(name, stack_bytes, [body = std::move(body)] {
      {
        std::lock_guard lock(state().mutex);
        state().shown.insert(port::current_thread_name());
      }
      state().started.notify_all();
      body();
    });
  }
};

std::vector<uint8_t> png_on_this_thread(uint32_t width, uint32_t height,
                                        const std::vector<uint8_t>& rgb) {
  PngScratch scratch;
  uint64_t n = encode_png_rgb24(scratch, width, height, rgb);
  return std::vector<uint8_t>(scratch.png.begin(), scratch.png.begin() + n);
}

std::shared_ptr<PngResultSlot> submit(PngJobQueue& queue, uint32_t width, uint32_t height,
                                      FrameDtype dtype, std::vector<uint8_t> pixels) {
  auto slot = std::make_shared<PngResultSlot>();
  queue.push(PngJob(PixelBytes(pixels), slot, {width, height, dtype}));
  return slot;
}

TEST(ThreadNames, ShortenedToThePlatformLimitKeepingTheIndex) {
  const std::tuple<const char*, size_t, const char*> cases[] = {
      {"qs-png-compress-0", 15, "png-compress-0"},
      {"qs-png-compress-12", 15, "png-compress-12"},
      {"qs-png-compress-123", 15, "ng-compress-123"},
      {"qs-video-writer", 15, "qs-video-writer"},
      {"qs-data-publisher", 15, "data-publisher"},
      {"qs-png-compress-0", 63, "qs-png-compress-0"},
  };
  for (const auto& [name, limit, shown] : cases) {
    EXPECT_EQ(port::shorten_thread_name(name, limit), shown) << name;
  }
}

TEST(PngWorkers, ThreadsAreNamedByIndexAndServeTheQueue) {
  RecordingStarter recorder;
  auto queue = spawn_png_workers(3, recorder.starter());
  EXPECT_EQ(recorder.requested(), (std::vector<std::pair<std::string, size_t>>{
                                      {"qs-png-compress-0", 2 * 1024 * 1024},
                                      {"qs-png-compress-1", 2 * 1024 * 1024},
                                      {"qs-png-compress-2", 2 * 1024 * 1024},
                                  }));
  EXPECT_EQ(recorder.shown_names(3), (std::set<std::string>{
                                         port::visible_thread_name("qs-png-compress-0"),
                                         port::visible_thread_name("qs-png-compress-1"),
                                         port::visible_thread_name("qs-png-compress-2"),
                                     }));
  EXPECT_EQ(queue->worker_count(), 3u);
  std::vector<uint8_t> rgb = testing::noise(4 * 4 * 3, 9);
  auto slot = submit(*queue, 4, 4, FrameDtype::Rgb8, rgb);
  PngOutcome outcome = slot->wait_take();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(bytes_of(outcome.value()), png_on_this_thread(4, 4, rgb));
}

TEST(PngWorkers, FailedStartIsLoggedAndSkipped) {
  std::vector<std::pair<std::string, std::string>> warnings;
  std::mutex warnings_mutex;
  set_event_sink([&](const Event& e) {
    std::lock_guard lock(warnings_mutex);
    const std::string* error = e.field("error");
    warnings.emplace_back(std::string(event_level_name(e.level)) + " " + std::string(e.target) +
                              " " + std::string(e.message),
                          error ? *error : "-");
  });
  RecordingStarter recorder("-1");
  auto queue = spawn_png_workers(3, recorder.starter());
  std::set<std::string> shown = recorder.shown_names(2);
  set_event_sink(nullptr);

  EXPECT_EQ(warnings, (std::vector<std::pair<std::string, std::string>>{
                          {"WARN data_daemon_bridge::writer failed to spawn PNG compression worker",
                           "Resource temporarily unavailable"},
                      }));
  EXPECT_EQ(shown, (std::set<std::string>{port::visible_thread_name("qs-png-compress-0"),
                                          port::visible_thread_name("qs-png-compress-2")}));
  EXPECT_EQ(recorder.requested().size(), 3u);  // no retry
  EXPECT_EQ(queue->worker_count(), 2u);

  std::vector<std::shared_ptr<PngResultSlot>> slots;
  for (int i = 0; i < 4; ++i) slots.push_back(submit(*queue, 1, 1, FrameDtype::Rgb8, {1, 2, 3}));
  for (auto& slot : slots) EXPECT_TRUE(slot->wait_take());
}

// Jobs are taken in order but finish in any order: a large frame first and small ones behind
// it, collected youngest first. Every slot gets its own frame's PNG, byte for byte what this
// thread's encoder makes of the same pixels.
TEST(PngWorkers, EachSlotReceivesItsOwnFrame) {
  auto queue = spawn_png_workers(3);
  struct Frame {
    uint32_t width, height;
    std::vector<uint8_t> rgb;
    std::shared_ptr<PngResultSlot> slot;
  };
  std::vector<Frame> frames;
  const std::pair<uint32_t, uint32_t> sizes[] = {{1280, 720}, {1, 1},   {3, 2},  {64, 48},
                                                 {17, 5},     {200, 1}, {1, 300}};
  uint32_t seed = 0;
  for (auto [w, h] : sizes) {
    std::vector<uint8_t> rgb = testing::noise(size_t{w} * h * 3, ++seed);
    auto slot = submit(*queue, w, h, FrameDtype::Rgb8, rgb);
    frames.push_back({w, h, std::move(rgb), std::move(slot)});
  }
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
    PngOutcome outcome = it->slot->wait_take();
    ASSERT_TRUE(outcome) << outcome.error().reason;
    EXPECT_EQ(bytes_of(outcome.value()), png_on_this_thread(it->width, it->height, it->rgb))
        << it->width << "x" << it->height;
    EXPECT_FALSE(it->slot->try_take());  // taking leaves the slot empty
  }
}

// With no thread started the queue has no consumer; a job can still be encoded by its caller.
TEST(PngWorkers, NoThreadStartedLeavesEncodingToTheCaller) {
  auto queue = spawn_png_workers(
      2, [](std::string, size_t, std::function<void()>) -> Result<Unit, std::string> {
        return data_daemon_shared::Err(std::string("no threads"));
      });
  EXPECT_EQ(queue->worker_count(), 0u);
  auto slot = std::make_shared<PngResultSlot>();
  run_png_job(PngJob(PixelBytes(std::vector<uint8_t>{7, 8, 9}), slot, {1, 1, FrameDtype::Rgb8}));
  std::optional<PngOutcome> outcome = slot->try_take();
  ASSERT_TRUE(outcome && *outcome);
  EXPECT_EQ(bytes_of(outcome->value()), png_on_this_thread(1, 1, {7, 8, 9}));
}

TEST(PngWorkers, DepthJobIsConvertedBeforeEncoding) {
  auto queue = spawn_png_workers(1);
  auto slot = submit(*queue, 2, 1, FrameDtype::DepthF16, {0x00, 0x3C, 0x00, 0x00});
  PngOutcome outcome = slot->wait_take();
  ASSERT_TRUE(outcome);
  testing::CommandResult decoded = testing::reference_decode_png(outcome.value());
  ASSERT_EQ(decoded.exit_status, 0) << decoded.errors;
  EXPECT_EQ(decoded.output, (std::vector<uint8_t>{0x19, 0x99, 0x99, 0x00, 0x00, 0x00}));
}

// A frame whose encoding aborts must not leave its slot without an answer: the slot receives
// the failure, and the thread goes on with the next job.
TEST(PngWorkers, AbortedFrameFailsItsSlotAndTheThreadGoesOn) {
  auto queue = spawn_png_workers(1);
  auto bad_depth = submit(*queue, 2, 2, FrameDtype::DepthF32, std::vector<uint8_t>(15));
  auto short_rgb = submit(*queue, 2, 2, FrameDtype::Rgb8, std::vector<uint8_t>(11));
  std::vector<uint8_t> rgb = testing::noise(2 * 2 * 3, 5);
  auto good = submit(*queue, 2, 2, FrameDtype::Rgb8, rgb);

  PngOutcome depth_outcome = bad_depth->wait_take();
  ASSERT_FALSE(depth_outcome);
  EXPECT_TRUE(depth_outcome.error().reason.starts_with(
      "depth_to_rgb24: buffer is 15 bytes; expected exactly 16 bytes for a 2x2 DepthF32 frame."))
      << depth_outcome.error().reason;
  PngOutcome rgb_outcome = short_rgb->wait_take();
  ASSERT_FALSE(rgb_outcome);
  EXPECT_EQ(rgb_outcome.error().reason,
            "encode_png_rgb24: pixel buffer of 11 bytes is too short for row 1 of a 2x2 picture");
  PngOutcome good_outcome = good->wait_take();
  ASSERT_TRUE(good_outcome);
  EXPECT_EQ(bytes_of(good_outcome.value()), png_on_this_thread(2, 2, rgb));
}

TEST(PngResultSlot, AJobReleasedUnencodedFailsItsSlot) {
  auto slot = std::make_shared<PngResultSlot>();
  EXPECT_FALSE(slot->try_take());
  {
    PngJob job(PixelBytes(std::vector<uint8_t>{1, 2, 3}), slot, {1, 1, FrameDtype::Rgb8});
    PngJob moved = std::move(job);  // only the last holder answers
    EXPECT_FALSE(slot->try_take());
  }
  std::optional<PngOutcome> outcome = slot->try_take();
  ASSERT_TRUE(outcome);
  ASSERT_FALSE(*outcome);
  EXPECT_EQ(outcome->error().reason, "the frame's compression job ended without a result");
  EXPECT_FALSE(slot->try_take());
  EXPECT_EQ(slot.use_count(), 1);
}

TEST(PngResultSlot, WaiterWakesWhenTheOutcomeIsStored) {
  auto slot = std::make_shared<PngResultSlot>();
  std::thread producer([slot] { slot->store(PixelBytes(std::vector<uint8_t>{4, 5})); });
  PngOutcome outcome = slot->wait_take();
  producer.join();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(bytes_of(outcome.value()), (std::vector<uint8_t>{4, 5}));
}

}  // namespace
}  // namespace data_daemon_bridge
