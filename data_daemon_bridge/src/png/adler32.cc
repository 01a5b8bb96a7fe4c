#include "png/adler32.h"

#include <algorithm>
#include <cstring>

namespace data_daemon_bridge {

namespace {

constexpr uint64_t kModulus = 65521;
// The bytes are taken in units of 16, each byte of a unit in the lane of its offset; the loops
// over a unit's lanes are plain enough for the compiler to turn into vector instructions.
constexpr size_t kUnit = 16;
// Units in a run: a lane's running total (below) reaches 255 × m(m + 1)/2 after m units, which
// fits 16 bits up to m = 22.
constexpr size_t kRunUnits = 22;

}  // namespace

uint32_t adler32_update(uint32_t adler, std::span<const uint8_t> bytes) {
  uint64_t a = adler & 0xFFFF;
  uint64_t b = adler >> 16;
  const uint8_t* at = bytes.data();
  size_t left = bytes.size();

  // A run of m units (n = 16m bytes) adds to a the sum of its bytes, and to b, with a as it was
  // before the run, n·a plus the sum of each byte times its distance from the run's end (the
  // last byte counting 1). The byte at offset j of unit u lies 16(m - u) - j from the end; so
  // that sum is 16 × (the sum over the units of each lane's total so far) less the sum of j ×
  // the lane's total.
  while (left >= kUnit) {
    const size_t units = std::min(left / kUnit, kRunUnits);
    uint16_t lane_total[kUnit] = {};
    uint16_t lane_running[kUnit] = {};
    for (size_t u = 0; u < units; ++u) {
      uint8_t unit[kUnit];
      std::memcpy(unit, at + u * kUnit, kUnit);
      for (size_t j = 0; j < kUnit; ++j) {
        lane_total[j] = static_cast<uint16_t>(lane_total[j] + unit[j]);
        lane_running[j] = static_cast<uint16_t>(lane_running[j] + lane_total[j]);
      }
    }
    // At most 16 × 65,535 and 15 × 16 × 5,610: 32 bits are enough.
    uint32_t sum = 0;
    uint32_t running = 0;
    uint32_t offsets = 0;
    for (uint32_t j = 0; j < kUnit; ++j) {
      sum += lane_total[j];
      running += lane_running[j];
      offsets += j * lane_total[j];
    }
    b = (b + kUnit * units * a + kUnit * running - offsets) % kModulus;
    a = (a + sum) % kModulus;
    at += kUnit * units;
    left -= kUnit * units;
  }
  for (; left > 0; --left) {
    a += *at++;
    b += a;
  }
  return static_cast<uint32_t>((b % kModulus) << 16 | (a % kModulus));
}

}  // namespace data_daemon_bridge
