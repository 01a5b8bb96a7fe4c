#include "clock/publish_clock.h"

#include <chrono>
#include <limits>

#include "gtest/gtest.h"

namespace data_daemon_bridge {
namespace {

using std::chrono::nanoseconds;

// The fake clocks read these; each test sets them.
nanoseconds fake_realtime{0};
nanoseconds fake_monotonic{0};
const PublishClockSource kFake{[] { return fake_realtime; }, [] { return fake_monotonic; }};

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(PublishClock, AtOrAfterTheEpochIsTheRealtimeClock) {
  PublishClockAnchor anchor;
  fake_monotonic = nanoseconds(123);
  for (int64_t ns : {int64_t{0}, int64_t{1}, int64_t{1'765'000'000'123'456'789}}) {
    fake_realtime = nanoseconds(ns);
    EXPECT_EQ(publish_clock_ns(kFake, anchor), ns);
  }
}

TEST(PublishClock, BeforeTheEpochCountsMonotonicTimeFrom2024) {
  PublishClockAnchor anchor;
  fake_realtime = nanoseconds(-1);
  fake_monotonic = nanoseconds(5'000);
  EXPECT_EQ(publish_clock_ns(kFake, anchor), PUBLISH_CLOCK_FALLBACK_EPOCH_NS);
  fake_monotonic = nanoseconds(5'007);
  EXPECT_EQ(publish_clock_ns(kFake, anchor), PUBLISH_CLOCK_FALLBACK_EPOCH_NS + 7);

  // The anchor stays where the first reading put it, also across a spell of sane readings.
  fake_realtime = nanoseconds(42);
  EXPECT_EQ(publish_clock_ns(kFake, anchor), 42);
  fake_realtime = nanoseconds(-5'000'000'000);
  fake_monotonic = nanoseconds(1'000'005'000);
  EXPECT_EQ(publish_clock_ns(kFake, anchor), PUBLISH_CLOCK_FALLBACK_EPOCH_NS + 1'000'000'000);
}

TEST(PublishClock, BeforeTheEpochSaturatesAtTheLargestValue) {
  PublishClockAnchor anchor;
  fake_realtime = nanoseconds(-1);
  fake_monotonic = nanoseconds(0);
  ASSERT_EQ(publish_clock_ns(kFake, anchor), PUBLISH_CLOCK_FALLBACK_EPOCH_NS);
  const int64_t room = kMax - PUBLISH_CLOCK_FALLBACK_EPOCH_NS;
  fake_monotonic = nanoseconds(room);
  EXPECT_EQ(publish_clock_ns(kFake, anchor), kMax);
  fake_monotonic = nanoseconds(room + 1);
  EXPECT_EQ(publish_clock_ns(kFake, anchor), kMax);
  fake_monotonic = nanoseconds(kMax);
  EXPECT_EQ(publish_clock_ns(kFake, anchor), kMax);
}

TEST(PublishClock, WithoutAFakeItReadsTheSystemClock) {
  const auto before =
      std::chrono::duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  const int64_t read = publish_clock_ns();
  const auto after =
      std::chrono::duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  EXPECT_LE(before, read);
  EXPECT_LE(read, after);
}

}  // namespace
}  // namespace data_daemon_bridge
