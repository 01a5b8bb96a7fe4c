// 64-bit arithmetic that stops at the ends of the range instead of wrapping.
#pragma once

#include <cstdint>
#include <limits>

namespace data_daemon_bridge {

inline int64_t saturating_add(int64_t a, int64_t b) {
  int64_t r;
  if (!__builtin_add_overflow(a, b, &r)) return r;
  return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

inline int64_t saturating_sub(int64_t a, int64_t b) {
  int64_t r;
  if (!__builtin_sub_overflow(a, b, &r)) return r;
  return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

inline uint64_t saturating_add(uint64_t a, uint64_t b) {
  uint64_t r;
  return __builtin_add_overflow(a, b, &r) ? std::numeric_limits<uint64_t>::max() : r;
}

// a - b for a signed a and an unsigned b, clamped to the signed range.
inline int64_t saturating_sub(int64_t a, uint64_t b) {
  __int128 r = static_cast<__int128>(a) - static_cast<__int128>(b);
  if (r < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}

}  // namespace data_daemon_bridge
