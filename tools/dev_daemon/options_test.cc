#include "dev_daemon/options.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace dev_daemon {
namespace {

using namespace std::chrono_literals;

ParsedOptions parse(std::vector<std::string> args) {
  args.insert(args.begin(), "dev_daemon");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  return parse_options(static_cast<int>(argv.size()), argv.data());
}

TEST(DevDaemonOptions, TheTwoDelaysEachSetTheirOwnValueWithinTheirBounds) {
  const struct {
    std::vector<std::string> args;
    std::chrono::milliseconds reply_delay;
    std::chrono::microseconds read_delay;
  } accepted[] = {
      {{}, 0ms, 0us},
      {{"--read-delay-us", "50"}, 0ms, 50us},
      {{"--read-delay-us", "1000000"}, 0ms, 1s},
      {{"--reply-delay-ms", "300"}, 300ms, 0us},
      {{"--reply-delay-ms", "7", "--read-delay-us", "9"}, 7ms, 9us},
  };
  for (const auto& c : accepted) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ParsedOptions parsed = parse(c.args);
    ASSERT_TRUE(parsed.options.has_value()) << parsed.message;
    EXPECT_EQ(parsed.options->reply_delay, c.reply_delay);
    EXPECT_EQ(parsed.options->read_delay, c.read_delay);
  }

  const struct {
    std::vector<std::string> args;
    const char* message;
  } refused[] = {
      {{"--read-delay-us", "1000001"}, "bad --read-delay-us"},
      {{"--read-delay-us", "-1"}, "bad --read-delay-us"},
      {{"--read-delay-us", "5us"}, "bad --read-delay-us"},
      {{"--read-delay-us"}, "--read-delay-us needs a value"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ParsedOptions parsed = parse(c.args);
    EXPECT_FALSE(parsed.options.has_value());
    EXPECT_EQ(parsed.exit_code, 64);
    EXPECT_NE(parsed.message.find(c.message), std::string::npos) << parsed.message;
  }
}

}  // namespace
}  // namespace dev_daemon
