#include "query/query_timeout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace data_daemon_bridge {
namespace {

TEST(QueryTimeout, ConvertsClampsAndRounds) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double seconds;
    int64_t nanos;
  } cases[] = {
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {-1, 0},
      {-0.0, 0},
      {-kInf, 0},
      {0, 0},
      {1e12, 86'400'000'000'000},
      {kInf, 86'400'000'000'000},
      {86'400, 86'400'000'000'000},
      {std::nextafter(86'400.0, kInf), 86'400'000'000'000},
      {1.5, 1'500'000'000},
      {0.1, 100'000'000},  // 0.1000000000000000055... s
      {4e-10, 0},
      {6e-10, 1},
      {5e-324, 0},
      {86'399.999999999, 86'399'999'999'999},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(duration_from_timeout_s(c.seconds).count(), c.nanos) << c.seconds;
  }
}

TEST(QueryTimeout, HalfNanosecondsRoundToEven) {
  // m / 1024 s is exact in binary and ends in exactly half a nanosecond for odd m.
  EXPECT_EQ(duration_from_timeout_s(1.0 / 1024).count(), 976'562);    // 976,562.5
  EXPECT_EQ(duration_from_timeout_s(3.0 / 1024).count(), 2'929'688);  // 2,929,687.5
  EXPECT_EQ(duration_from_timeout_s(1 + 1.0 / 1024).count(), 1'000'976'562);
}

}  // namespace
}  // namespace data_daemon_bridge
