#include "writer/pixel_bytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "writer/writer_queue.h"

namespace data_daemon_bridge {
namespace {

using pixel_memory::kMappedFrom;
using pixel_memory::usage;

constexpr size_t kFrame = 1920 * 1080 * 3;

// Each test starts with no mapping idle (the pool is the process's).
class PixelBytesTest : public ::testing::Test {
 protected:
  void SetUp() override { pixel_memory::release_idle_for_testing(); }
};

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
  return bytes;
}

TEST_F(PixelBytesTest, CopiesAndMovesItsBytes) {
  for (size_t size : {size_t{0}, size_t{3}, kMappedFrom - 1, kMappedFrom, kFrame}) {
    const std::vector<uint8_t> source = pattern(size, 5);
    PixelBytes copy(source);
    ASSERT_EQ(copy.size(), size);
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), source.begin(), source.end())) << size;
    PixelBytes moved = std::move(copy);
    EXPECT_EQ(moved.size(), size);
    EXPECT_TRUE(copy.empty());
    EXPECT_TRUE(std::equal(moved.begin(), moved.end(), source.begin(), source.end())) << size;
  }
  EXPECT_EQ(usage().in_use_bytes, 0u);
}

TEST_F(PixelBytesTest, OnlyLargeBuffersAreMappingsAndTheirPagesGoBackOrAreReused) {
  { PixelBytes small(pattern(kMappedFrom - 1, 1)); }
  EXPECT_EQ(usage().idle_bytes, 0u);  // the C library's, not the pool's

  const uint8_t* first = nullptr;
  {
    PixelBytes frame(pattern(kFrame, 1));
    first = frame.data();
    EXPECT_GE(usage().in_use_bytes, kFrame);
  }
  EXPECT_EQ(usage().in_use_bytes, 0u);
  EXPECT_GE(usage().idle_bytes, kFrame);
  // The next frame of that size takes the idle mapping; one of another size does not.
  {
    PixelBytes larger(pattern(2 * kFrame, 2));
    EXPECT_NE(larger.data(), first);
  }
  PixelBytes again(pattern(kFrame, 3));
  EXPECT_EQ(again.data(), first);
  EXPECT_EQ(again.data()[10], pattern(kFrame, 3)[10]);
}

TEST_F(PixelBytesTest, TheIdleMappingsStayWithinTheirBounds) {
  constexpr size_t kBuffer = 10 << 20;
  std::vector<PixelBytes> held;
  for (int i = 0; i < 12; ++i) held.emplace_back(std::vector<uint8_t>(kBuffer));
  held.clear();
  EXPECT_EQ(usage().in_use_bytes, 0u);
  EXPECT_LE(usage().idle_bytes, pixel_memory::kMaxIdleBytes);
  EXPECT_GT(usage().idle_bytes, 0u);
}

TEST_F(PixelBytesTest, UnderOverloadNothingIsKeptIdle) {
  // More frame memory in use than the writer queue's cap: what is released goes back at once.
  std::vector<PixelBytes> held;
  const std::vector<uint8_t> frame(kFrame);
  while (usage().in_use_bytes <= MAX_QUEUED_FRAME_BYTES) held.emplace_back(frame);
  held.pop_back();
  EXPECT_EQ(usage().idle_bytes, 0u);
  held.clear();  // and once in use falls, the pool keeps mappings again
  EXPECT_GT(usage().idle_bytes, 0u);
}

// Releases `buffer` on a thread of its own that pauses after reading the pool's counts, before
// it counts its mapping idle or not, while `meanwhile` runs on this thread.
void release_pausing(void* buffer, size_t bytes, const std::function<void()>& meanwhile) {
  static std::atomic<std::thread::id> pausing;
  static std::atomic<bool> paused;
  static std::atomic<bool> resume;
  paused = false;
  resume = false;
  pixel_memory::set_release_pause_for_testing([] {
    if (std::this_thread::get_id() != pausing.load() || paused.exchange(true)) return;
    while (!resume) std::this_thread::yield();
  });
  std::thread releaser([&] {
    pausing = std::this_thread::get_id();
    pixel_memory::deallocate(buffer, bytes);
  });
  while (!paused) std::this_thread::yield();
  meanwhile();
  resume = true;
  releaser.join();
  pixel_memory::set_release_pause_for_testing(nullptr);
}

TEST_F(PixelBytesTest, AReleaseKeepsItsMappingOnlyIfTheBoundsHoldWhenItIsCounted) {
  constexpr size_t kTen = 10 << 20;
  constexpr size_t kThree = 3 << 20;
  {
    // Six idle mappings of 10 MiB leave room under kMaxIdleBytes for one of 3 MiB, not two: of
    // two releases at once, one keeps its mapping.
    std::vector<void*> fillers;
    for (int i = 0; i < 6; ++i) fillers.push_back(pixel_memory::allocate(kTen));
    for (void* filler : fillers) pixel_memory::deallocate(filler, kTen);
    const uint64_t filled = usage().idle_bytes;
    void* first = pixel_memory::allocate(kThree);
    void* second = pixel_memory::allocate(kThree);
    release_pausing(first, kThree, [&] { pixel_memory::deallocate(second, kThree); });
    EXPECT_LE(usage().idle_bytes, pixel_memory::kMaxIdleBytes);
    EXPECT_GT(usage().idle_bytes, filled);
  }
  pixel_memory::release_idle_for_testing();
  {
    // 240 MiB in use: a released 3 MiB fits under the queue's cap until a frame of 14 MiB is
    // mapped meanwhile.
    std::vector<void*> held;
    for (int i = 0; i < 24; ++i) held.push_back(pixel_memory::allocate(kTen));
    void* released = pixel_memory::allocate(kThree);
    void* mapped = nullptr;
    release_pausing(released, kThree, [&] { mapped = pixel_memory::allocate(14 << 20); });
    EXPECT_EQ(usage().idle_bytes, 0u);
    pixel_memory::deallocate(mapped, 14 << 20);
    for (void* buffer : held) pixel_memory::deallocate(buffer, kTen);
  }
}

TEST_F(PixelBytesTest, ThreadsAllocateAndReleaseEachOthersBuffers) {
  // As frames go: copied on one thread, released on another.
  constexpr int kThreads = 4;
  constexpr int kRounds = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int round = 0; round < kRounds; ++round) {
        const auto seed = static_cast<uint8_t>(t * kRounds + round);
        PixelBytes frame(pattern(kMappedFrom + static_cast<size_t>(t) * 4096, seed));
        std::thread consumer([frame = std::move(frame), seed] {
          EXPECT_EQ(frame.data()[1], static_cast<uint8_t>(7 + seed));
        });
        consumer.join();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(usage().in_use_bytes, 0u);
}

}  // namespace
}  // namespace data_daemon_bridge
