// The time-out of a daemon query, from the caller's seconds to a monotonic duration.
#pragma once

#include <chrono>

namespace data_daemon_bridge {

// 86,400 s: no query waits longer.
inline constexpr std::chrono::seconds MAX_QUERY_TIMEOUT_S{86'400};

// NaN and negative values (minus zero and minus infinity included) give 0; values above
// 86,400 (plus infinity included) give exactly 86,400 s; any other value converts exactly,
// rounded to the nearest nanosecond with ties to even.
std::chrono::nanoseconds duration_from_timeout_s(double timeout_s);

}  // namespace data_daemon_bridge
