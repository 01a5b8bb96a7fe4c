#include "publisher/joint_json.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace data_daemon_bridge {
namespace {

std::string number(double x) {
  std::string out;
  EXPECT_TRUE(append_json_number(out, x));
  return out;
}

TEST(JointJson, DecimalText) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double x;
    const char* text;
  } cases[] = {
      {1.0, "1.0"},
      {100.0, "100.0"},
      {0.5, "0.5"},
      {-1.0, "-1.0"},
      {123.456, "123.456"},
      {0.000123, "0.000123"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {1.2345678901234568e17, "1.2345678901234568e+17"},
      {123456789012345.6, "123456789012345.6"},
      {1e-5, "0.00001"},
      {1.5e-5, "0.000015"},
      {1e-6, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {0.1 + 0.2, "0.30000000000000004"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {5e-324, "5e-324"},
      {-5e-324, "-5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {kInf, "null"},
      {-kInf, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(number(c.x), c.text) << c.text;
}

TEST(JointJson, RandomDoublesReadBackToTheSameBits) {
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 200'000; ++i) {
    const double x = std::bit_cast<double>(random());
    if (!std::isfinite(x)) continue;
    const std::string text = number(x);
    char* end = nullptr;
    const double back = std::strtod(text.c_str(), &end);
    ASSERT_EQ(*end, '\0') << text;
    ASSERT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(x)) << text;
    // Plain texts always carry a fraction, so the daemon reads every value as a float.
    ASSERT_TRUE(text.find_first_of(".e") != std::string::npos) << text;
  }
}

TEST(JointJson, Object) {
  auto text = [](double t, double v) {
    auto bytes = render_joint_sample_json(t, v);
    EXPECT_TRUE(bytes.ok());
    return std::string(bytes.value().begin(), bytes.value().end());
  };
  EXPECT_EQ(text(2, 0.5), R"({"timestamp":2.0,"value":0.5})");
  EXPECT_EQ(text(12.5, std::numeric_limits<double>::quiet_NaN()),
            R"({"timestamp":12.5,"value":null})");
  const std::string longest = text(-1.7976931348623157e308, -2.2250738585072014e-308);
  EXPECT_EQ(longest, R"({"timestamp":-1.7976931348623157e+308,"value":-2.2250738585072014e-308})");
  EXPECT_LE(longest.size(), 71u);
}

}  // namespace
}  // namespace data_daemon_bridge
