#include "writer/writer_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace data_daemon_bridge {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint64_t MiB = 1024 * 1024;

VideoFrame frame_of(uint64_t bytes, std::string name = "cam") {
  return VideoFrame{
      .meta = {.robot_id = "r", .data_type = "RGB_IMAGES", .name = std::move(name)},
      .payload = PixelBytes(std::vector<uint8_t>(bytes)),
  };
}

FlushSource flush_barrier() {
  return FlushSource{make_channel<data_daemon_shared::Unit>().first, "r", 1};
}

std::string job_name(const WriterJob& job) {
  if (auto* frame = std::get_if<VideoFrame>(&job)) return frame->meta.name;
  return std::holds_alternative<FlushSource>(job) ? "flush" : "cancel";
}

// Waits (bounded, only so that a fault cannot hang the suite) until pred holds.
template <class Pred>
bool eventually(Pred pred) {
  const auto until = steady_clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (steady_clock::now() > until) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

TEST(WriterQueue, SpoolBudgetFromLimit) {
  const struct {
    int64_t limit;
    uint64_t budget;
  } cases[] = {
      {-1, 0},
      {0, 0},
      {1, 536'870'912},
      {536'870'912, 536'870'912},
      {536'870'913, 536'870'913},
      {2'147'483'648, 2'147'483'648},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spool_budget_for_limit(c.limit), c.budget) << c.limit;
    EXPECT_EQ(WriterQueue(c.limit).spool_budget(), c.budget) << c.limit;
  }
}

TEST(WriterQueue, JobsLeaveInArrivalOrderAndReleaseTheirBytes) {
  WriterQueue queue(0);
  EXPECT_FALSE(enqueue_writer_job(queue, frame_of(10, "a")));
  EXPECT_FALSE(enqueue_writer_job(queue, flush_barrier()));
  EXPECT_FALSE(enqueue_writer_job(queue, frame_of(5, "b")));
  EXPECT_EQ(queue.queued_frame_bytes(), 15u);

  std::vector<std::string> order;
  while (auto job = take_writer_job(queue, milliseconds(1))) order.push_back(job_name(*job));
  EXPECT_EQ(order, (std::vector<std::string>{"a", "flush", "b"}));
  EXPECT_EQ(queue.queued_frame_bytes(), 0u);
}

TEST(WriterQueue, TakeWaitsForAJobAndGivesNoneOnTimeout) {
  WriterQueue queue(0);
  const auto start = steady_clock::now();
  EXPECT_FALSE(take_writer_job(queue, milliseconds(50)).has_value());
  EXPECT_GE(steady_clock::now() - start, milliseconds(50));

  // One take, whose wait the job arrives during: a take that does not wait finds nothing. (Its
  // bound only keeps a fault from hanging the suite; the job ends the wait.)
  std::thread producer([&] {
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_FALSE(enqueue_writer_job(queue, frame_of(1, "late")));
  });
  std::optional<WriterJob> job = take_writer_job(queue, milliseconds(20'000));
  producer.join();
  ASSERT_TRUE(job.has_value());
  EXPECT_EQ(job_name(*job), "late");
}

TEST(WriterQueue, NoBudgetNeverStallsOnTheSpool) {
  WriterQueue queue(0);
  store_spool_bytes(queue, UINT64_MAX);
  EXPECT_FALSE(enqueue_writer_job(queue, frame_of(1)));
  EXPECT_EQ(queue.job_count(), 1u);
}

TEST(WriterQueue, FrameOverSpoolBudgetIsRejectedAfterTheStallWhileBarriersPass) {
  WriterQueue queue(1);                            // budget 512 MiB
  store_spool_bytes(queue, queue.spool_budget());  // exactly at the budget counts as over

  std::atomic<bool> rejected{false};
  const auto start = steady_clock::now();
  std::thread producer([&] { rejected = enqueue_writer_job(queue, frame_of(100)); });
  // A barrier is appended at once while the frame stalls.
  EXPECT_FALSE(enqueue_writer_job(queue, flush_barrier()));
  producer.join();

  EXPECT_TRUE(rejected);
  EXPECT_GE(steady_clock::now() - start, STALL_TIMEOUT);
  EXPECT_EQ(queue.job_count(), 1u);
  EXPECT_EQ(queue.queued_frame_bytes(), 0u);
}

TEST(WriterQueue, MeasurementBelowBudgetWithinTheStallAdmitsTheFrame) {
  WriterQueue queue(1);
  store_spool_bytes(queue, 600 * MiB);
  std::thread writer([&] {
    std::this_thread::sleep_for(milliseconds(200));
    store_spool_bytes(queue, 100 * MiB);
  });
  EXPECT_FALSE(enqueue_writer_job(queue, frame_of(100)));
  writer.join();
  EXPECT_EQ(queue.job_count(), 1u);
}

TEST(WriterQueue, MemoryCapAdmitsUpToTheCapAndHoldsTheRest) {
  WriterQueue queue(0);
  ASSERT_FALSE(enqueue_writer_job(queue, frame_of(200 * MiB, "first")));
  // Exactly 256 MiB in all is admitted at once.
  ASSERT_FALSE(enqueue_writer_job(queue, frame_of(56 * MiB, "fits")));

  std::atomic<bool> admitted{false};
  std::thread producer([&] {
    EXPECT_FALSE(enqueue_writer_job(queue, frame_of(56 * MiB + 1, "waits")));
    admitted = true;
  });
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(admitted);
  // A barrier passes the waiting frame.
  EXPECT_FALSE(enqueue_writer_job(queue, flush_barrier()));

  // Removing the first frame makes room.
  ASSERT_EQ(job_name(*take_writer_job(queue, milliseconds(1))), "first");
  ASSERT_TRUE(eventually([&] { return admitted.load(); }));
  producer.join();

  std::vector<std::string> order;
  while (auto job = take_writer_job(queue, milliseconds(1))) order.push_back(job_name(*job));
  EXPECT_EQ(order, (std::vector<std::string>{"fits", "flush", "waits"}));
}

TEST(WriterQueue, QueueWithoutFrameBytesAdmitsAnyFrame) {
  WriterQueue queue(0);
  ASSERT_FALSE(enqueue_writer_job(queue, flush_barrier()));
  EXPECT_FALSE(enqueue_writer_job(queue, frame_of(MAX_QUEUED_FRAME_BYTES + 1)));
  EXPECT_EQ(queue.job_count(), 2u);
}

TEST(WriterQueue, WaitOnMemoryStartsAFreshSpoolSecond) {
  WriterQueue queue(1);
  ASSERT_FALSE(enqueue_writer_job(queue, frame_of(200 * MiB, "held")));
  store_spool_bytes(queue, 600 * MiB);

  std::atomic<bool> rejected{false};
  const auto start = steady_clock::now();
  std::thread producer([&] { rejected = enqueue_writer_job(queue, frame_of(100 * MiB)); });
  // The spool falls below budget: the frame moves on to the memory cap, where it must wait.
  std::this_thread::sleep_for(milliseconds(300));
  store_spool_bytes(queue, 0);
  // Over budget again: a fresh second starts now, not at the first stall.
  std::this_thread::sleep_for(milliseconds(500));
  store_spool_bytes(queue, 600 * MiB);
  producer.join();

  EXPECT_TRUE(rejected);
  EXPECT_GE(steady_clock::now() - start, milliseconds(800) + STALL_TIMEOUT);
  EXPECT_EQ(queue.job_count(), 1u);
}

TEST(WriterQueue, JobReleasedUnservedReleasesItsBarriersWaiter) {
  auto [sender, receiver] = make_channel<data_daemon_shared::Unit>();
  {
    WriterQueue orphan(0);
    ASSERT_FALSE(enqueue_writer_job(orphan, CancelSource{std::move(sender), "r", 1}));
  }
  EXPECT_FALSE(receiver.receive().has_value());
}

}  // namespace
}  // namespace data_daemon_bridge
