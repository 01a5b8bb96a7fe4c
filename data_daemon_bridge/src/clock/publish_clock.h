// The publish clock: the producer's wall clock for every timestamp it stamps (envelope bodies,
// query request ids, the writer thread). Never cached by a caller across calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace data_daemon_bridge {

// 2024-01-01T00:00:00Z: the base of the clock while the system clock reads before 1970.
inline constexpr int64_t PUBLISH_CLOCK_FALLBACK_EPOCH_NS = 1'704'067'200'000'000'000;

// Nanoseconds since the Unix epoch by the real-time clock. While that clock reads before the
// epoch: PUBLISH_CLOCK_FALLBACK_EPOCH_NS plus the monotonic time elapsed since the first such
// reading in the process, saturating at INT64_MAX. Any thread.
int64_t publish_clock_ns();

// The clocks publish_clock_ns reads, as durations since their epochs; replaceable for tests.
struct PublishClockSource {
  std::chrono::nanoseconds (*realtime)();  // negative before 1970
  std::chrono::nanoseconds (*monotonic)();
};

// The monotonic instant of the first before-1970 reading; set once, then fixed (a forked child
// keeps it).
class PublishClockAnchor {
 public:
  // The anchor, set to `now` if this is the first call.
  std::chrono::nanoseconds get_or_set(std::chrono::nanoseconds now);

 private:
  std::once_flag once_;
  std::chrono::nanoseconds anchor_{0};
};

// publish_clock_ns over the given clocks and anchor.
int64_t publish_clock_ns(const PublishClockSource& source, PublishClockAnchor& anchor);

}  // namespace data_daemon_bridge
