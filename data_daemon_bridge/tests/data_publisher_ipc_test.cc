// The data publisher thread against a command subscriber in another process (tests/ipc_peer.cc
// in "subscribe" mode prints each envelope it receives as hex, one a line).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/hex.h"
#include "publisher/data_publisher.h"
#include "publisher/sample_envelopes.h"
#include "support/child_process.h"
#include "support/event_capture.h"
#include "support/forked_child.h"
#include "support/peer_output.h"

namespace data_daemon_bridge {
namespace {

using namespace std::string_literals;
using data_daemon_shared::Envelope;
using testing::ChildProcess;
using testing::helper_path;

constexpr const char* kCommands = "quillspan/data_daemon/commands";

std::string hex(const Envelope& envelope) {
  return data_daemon_shared::to_hex(data_daemon_shared::encode_envelope(envelope).value(),
                                    data_daemon_shared::HexForm::Packed);
}

JsonSample json_sample(const std::string& name, const std::string& payload) {
  JsonSample s;
  s.robot_id = "arm";
  s.robot_instance = 2;
  s.data_type = "custom";
  s.name = name;
  s.payload.assign(payload.begin(), payload.end());
  s.timestamp_ns = 10;
  s.publish_timestamp_ns = 11;
  return s;
}

Envelope json_envelope(const std::string& name, const std::string& payload) {
  JsonSample s = json_sample(name, payload);
  return data_daemon_shared::Data{
      s.robot_id,     s.robot_instance, s.data_type, s.name, s.publish_timestamp_ns,
      s.timestamp_ns, s.timestamp_s,    s.payload};
}

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

bool queue(PublisherItem item) { return get_or_spawn_data_publisher().send(std::move(item)).ok(); }

bool queue_json(const std::string& name, const std::string& payload) {
  return queue({PublisherItem::Json{json_sample(name, payload)}});
}

class DataPublisherIpc : public ::testing::Test {
 protected:
  // A command subscriber that prints `count` envelopes and exits.
  static std::unique_ptr<ChildProcess> daemon(int count) {
    return testing::start_ready_peer(
        {helper_path("ipc_peer"), "subscribe", kCommands, std::to_string(count)});
  }
};

TEST_F(DataPublisherIpc, SamplesOfSeveralThreadsArriveInEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 30;
  auto peer = daemon(2 + kThreads * kPerThread);

  JointFrame frame;
  frame.robot_id = "arm";
  frame.data_type = "joints";
  frame.names = "j1\0j2"s;
  frame.values = {0.5, -1.0};
  frame.timestamp_ns = 2'000'000'000;
  frame.publish_timestamp_ns = 2'000'000'001;
  ASSERT_TRUE(queue({PublisherItem::Joints{frame}}));
  ASSERT_TRUE(queue_json("first", ""));

  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) {
        ASSERT_TRUE(queue_json("t" + std::to_string(t), std::to_string(i)));
      }
    });
  }
  for (auto& p : producers) p.join();
  EXPECT_TRUE(drain_data_publisher());

  const auto seen = testing::read_lines(*peer, 2 + kThreads * kPerThread);
  ASSERT_EQ(seen.size(), size_t(2 + kThreads * kPerThread));
  EXPECT_EQ(seen[0], hex(data_daemon_shared::BatchedData{
                         .robot_id = "arm",
                         .data_type = "joints",
                         .publish_timestamp_ns = 2'000'000'001,
                         .timestamp_ns = 2'000'000'000,
                         .timestamp_s = std::nullopt,
                         .samples = {{"j1", bytes(R"({"timestamp":2.0,"value":0.5})")},
                                     {"j2", bytes(R"({"timestamp":2.0,"value":-1.0})")}},
                     }));
  EXPECT_EQ(seen[1], hex(json_envelope("first", "")));
  // Each thread's samples in its own order; the threads interleave as their sends met.
  std::vector<int> next(kThreads, 0);
  for (size_t line = 2; line < seen.size(); ++line) {
    bool matched = false;
    for (int t = 0; t < kThreads && !matched; ++t) {
      if (next[t] < kPerThread &&
          seen[line] == hex(json_envelope("t" + std::to_string(t), std::to_string(next[t])))) {
        ++next[t];
        matched = true;
      }
    }
    EXPECT_TRUE(matched) << "line " << line << " is no thread's next sample";
  }
  EXPECT_EQ(peer->wait(), 0);
}

TEST_F(DataPublisherIpc, AnOversizedBatchIsDroppedAndTheNextItemStillGoesOut) {
  testing::EventCapture capture;
  auto peer = daemon(1);
  JointFrame huge;
  huge.robot_id = "arm";
  huge.data_type = "joints";
  huge.values.assign(40'000, 1.0);
  for (int i = 0; i < 40'000; ++i) huge.names += (i ? "\0j"s : "j"s);
  const size_t encoded =
      data_daemon_shared::encode_envelope(joint_frame_envelope(JointFrame(huge))).value().size();
  ASSERT_GT(encoded, 1'048'576u);

  ASSERT_TRUE(queue({PublisherItem::Joints{std::move(huge)}}));
  ASSERT_TRUE(queue_json("after", "{}"));
  EXPECT_TRUE(drain_data_publisher());
  EXPECT_EQ(testing::read_lines(*peer, 1),
            std::vector<std::string>{hex(json_envelope("after", "{}"))});
  EXPECT_EQ(peer->wait(), 0);

  const auto events = capture.events("data_daemon_bridge::publisher");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].level, EventLevel::Warn);
  EXPECT_EQ(events[0].target, "data_daemon_bridge::publisher");
  EXPECT_EQ(events[0].message, "failed to publish data envelope");
  EXPECT_EQ(events[0].field("error"),
            "envelope payload " + std::to_string(encoded) + " bytes exceeds limit 1048576 bytes");
}

// With no daemon the first item waits out the subscriber wait; the items after it get one attempt
// each, so the barrier behind them all is answered after about that one wait (one wait an item,
// 1,000 s here, before). A daemon that comes then gets the next item.
TEST_F(DataPublisherIpc, WithNoDaemonItemsAreDroppedAfterOneWaitAndADaemonThatComesGetsTheNext) {
  constexpr int kItems = 200;
  testing::EventCapture capture;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kItems; ++i) ASSERT_TRUE(queue_json("lost", std::to_string(i)));
  EXPECT_TRUE(drain_data_publisher());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  const auto events = capture.events("data_daemon_bridge::publisher");
  ASSERT_EQ(events.size(), size_t(kItems)) << "a dropped item was not reported";
  for (const auto& e : events) {
    EXPECT_EQ(e.message, "failed to publish data envelope");
    EXPECT_EQ(e.field("error"),
              "failed to send sample: no data-daemon command subscriber connected within 5s");
  }

  auto peer = daemon(1);
  ASSERT_TRUE(queue_json("found", "{}"));
  EXPECT_TRUE(drain_data_publisher());
  EXPECT_EQ(testing::read_lines(*peer, 1),
            std::vector<std::string>{hex(json_envelope("found", "{}"))});
  EXPECT_EQ(peer->wait(), 0);
}

TEST_F(DataPublisherIpc, AForkedChildPublishesThroughAThreadOfItsOwn) {
  auto peer = daemon(3);
  ASSERT_TRUE(queue_json("parent", "1"));
  ASSERT_TRUE(drain_data_publisher());

  const std::string child = testing::run_in_child([] {
    // A send into the inherited channel would reach no thread, and the barrier would never be
    // answered.
    CHILD_CHECK(queue_json("child", "2"));
    CHILD_CHECK(drain_data_publisher());
    return 0;
  });
  EXPECT_EQ(child, "exit 0");

  ASSERT_TRUE(queue_json("parent", "3"));
  ASSERT_TRUE(drain_data_publisher());
  // The child published on a commands publisher of its own, so its sample has no fixed place
  // among the parent's.
  auto seen = testing::read_lines(*peer, 3);
  std::vector<std::string> expected = {hex(json_envelope("parent", "1")),
                                       hex(json_envelope("child", "2")),
                                       hex(json_envelope("parent", "3"))};
  std::sort(seen.begin(), seen.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(peer->wait(), 0);
}

}  // namespace
}  // namespace data_daemon_bridge
