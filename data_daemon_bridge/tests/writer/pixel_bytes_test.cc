#include "writer/pixel_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
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
