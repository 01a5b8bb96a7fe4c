#include "clock/publish_clock.h"

#include <algorithm>
#include <limits>

namespace data_daemon_bridge {

namespace {

std::chrono::nanoseconds system_realtime() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
}

std::chrono::nanoseconds system_monotonic() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

constexpr PublishClockSource kSystemClocks{&system_realtime, &system_monotonic};

// Process-wide, never released.
PublishClockAnchor PUBLISH_CLOCK_ANCHOR;

}  // namespace

std::chrono::nanoseconds PublishClockAnchor::get_or_set(std::chrono::nanoseconds now) {
  std::call_once(once_, [&] { anchor_ = now; });
  return anchor_;
}

int64_t publish_clock_ns(const PublishClockSource& source, PublishClockAnchor& anchor) {
  const auto realtime = source.realtime();
  if (realtime.count() >= 0) return realtime.count();
  const auto now = source.monotonic();
  // A reading taken just before another thread set the anchor counts as no time elapsed.
  const int64_t elapsed = std::max<int64_t>(0, (now - anchor.get_or_set(now)).count());
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  if (elapsed > kMax - PUBLISH_CLOCK_FALLBACK_EPOCH_NS) return kMax;
  return PUBLISH_CLOCK_FALLBACK_EPOCH_NS + elapsed;
}

int64_t publish_clock_ns() { return publish_clock_ns(kSystemClocks, PUBLISH_CLOCK_ANCHOR); }

}  // namespace data_daemon_bridge
