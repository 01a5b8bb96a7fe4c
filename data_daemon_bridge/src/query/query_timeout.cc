#include "query/query_timeout.h"

#include <cmath>
#include <cstdint>

namespace data_daemon_bridge {

std::chrono::nanoseconds duration_from_timeout_s(double timeout_s) {
  if (std::isnan(timeout_s) || std::signbit(timeout_s)) return std::chrono::nanoseconds(0);
  if (timeout_s > double(MAX_QUERY_TIMEOUT_S.count())) return MAX_QUERY_TIMEOUT_S;

  // Whole seconds and the fraction are both exact. The fraction is m × 2^exponent with m below
  // 2^53, so m × 10^9 (below 2^83) is exact in 128 bits, and the one rounding happens in the
  // final shift.
  const double whole = std::floor(timeout_s);
  const double fraction = timeout_s - whole;
  int64_t nanos = 0;
  if (fraction > 0) {
    int exponent;
    const double mantissa = std::frexp(fraction, &exponent);  // fraction = mantissa × 2^exponent
    const auto m = static_cast<unsigned __int128>(std::ldexp(mantissa, 53));
    const int shift = 53 - exponent;  // fraction = m / 2^shift, shift > 53
    if (shift < 120) {
      const unsigned __int128 scaled = m * 1'000'000'000u;
      const unsigned __int128 unit = static_cast<unsigned __int128>(1) << shift;
      unsigned __int128 quotient = scaled >> shift;
      const unsigned __int128 remainder = scaled & (unit - 1);
      const unsigned __int128 half = unit >> 1;
      if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
      nanos = static_cast<int64_t>(quotient);
    }  // else the fraction is far below half a nanosecond
  }
  return std::chrono::seconds(static_cast<int64_t>(whole)) + std::chrono::nanoseconds(nanos);
}

}  // namespace data_daemon_bridge
