#include "writer/video_heartbeat.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "writer/writer_test_support.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::VideoHeartbeat;

constexpr int64_t kT0 = 1'700'000'000'000'000'000;

// The publish times of the heartbeats among records.
std::vector<int64_t> heartbeat_times(const std::vector<data_daemon_shared::Envelope>& records) {
  std::vector<int64_t> times;
  for (const auto& record : records) {
    const auto& heartbeat = std::get<VideoHeartbeat>(record);
    EXPECT_EQ(heartbeat.producer_pid, static_cast<uint32_t>(getpid()));
    times.push_back(heartbeat.publish_timestamp_ns);
  }
  return times;
}

TEST(VideoHeartbeat, AtMostOnePerSourcePerHundredMilliseconds) {
  testing::RecordCapture records;
  const struct {
    int64_t at;
    bool sends;
  } calls[] = {
      {kT0, true},                 // the first call of a source
      {kT0 + 99'999'999, false},   // inside the window
      {kT0 + 100'000'000, true},   // exactly one interval later
      {kT0 + 150'000'000, false},  // the window runs from the last heartbeat sent
      {kT0 + 99'999'999, true},    // before the last one: the clock stepped back
      {kT0 + 150'000'000, false},  // ... and that one is the new reference
      {kT0 + 199'999'999, true},
  };
  std::vector<int64_t> expected;
  for (const auto& call : calls) {
    announce_video_source("beat", 1, call.at);
    if (call.sends) expected.push_back(call.at);
  }
  EXPECT_EQ(heartbeat_times(records.take("beat")), expected);

  // Two instances of one robot are limited separately.
  announce_video_source("beat", 2, kT0 + 199'999'999);
  EXPECT_EQ(records.take("beat").size(), 1u);
}

TEST(VideoHeartbeat, CamerasOfOneSourceShareTheWindow) {
  testing::RecordCapture records;
  // Two cameras calling alternately every 10 ms for one second.
  for (int64_t k = 0; k < 100; ++k) announce_video_source("shared", 1, kT0 + k * 10'000'000);
  std::vector<int64_t> expected;
  for (int64_t k = 0; k < 10; ++k) expected.push_back(kT0 + k * 100'000'000);
  EXPECT_EQ(heartbeat_times(records.take("shared")), expected);
}

TEST(VideoHeartbeat, ForkedChildAnnouncesAtOnce) {
  testing::RecordCapture records;
  announce_video_source("forked", 1, kT0);
  records.take();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    announce_video_source("forked", 1, kT0 + 1'000'000);
    auto sent = records.take("forked");
    bool ok = sent.size() == 1 &&
              std::get<VideoHeartbeat>(sent[0]).producer_pid == static_cast<uint32_t>(getpid());
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The parent's window is untouched.
  announce_video_source("forked", 1, kT0 + 1'000'000);
  EXPECT_TRUE(records.take("forked").empty());
}

}  // namespace
}  // namespace data_daemon_bridge
