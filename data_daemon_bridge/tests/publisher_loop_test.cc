#include "publisher/publisher_loop.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/event_capture.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::Envelope;
using data_daemon_shared::Err;
using data_daemon_shared::Result;
using data_daemon_shared::Unit;

// Records what the loop publishes as "kind:robot_id"; fails envelopes of robot "refused".
class FakePublisher {
 public:
  EnvelopePublisher function() {
    return [this](const Envelope& e) -> Result<Unit, std::string> {
      const std::string robot = std::visit(
          [](const auto& v) -> std::string {
            if constexpr (requires { v.robot_id; }) return v.robot_id;
            return "";
          },
          e);
      if (robot == "refused") return Err(std::string("daemon said no"));
      std::lock_guard lock(mutex_);
      published_.push_back(std::to_string(e.index()) + ":" + robot);
      return Unit{};
    };
  }
  std::vector<std::string> published() {
    std::lock_guard lock(mutex_);
    return published_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> published_;
};

PublisherItem joints(std::string robot) {
  JointFrame frame;
  frame.robot_id = std::move(robot);
  frame.names = "j";
  frame.values = {1.0};
  return {PublisherItem::Joints{std::move(frame)}};
}

PublisherItem json(std::string robot) {
  JsonSample sample;
  sample.robot_id = std::move(robot);
  return {PublisherItem::Json{std::move(sample)}};
}

PublisherItem heartbeat(std::string robot) {
  return {
      PublisherItem::Envelope{data_daemon_shared::VideoHeartbeat{.robot_id = std::move(robot)}}};
}

TEST(PublisherLoop, PublishesInChannelOrderAndAnswersFlushAfterEverythingBefore) {
  testing::EventCapture capture;
  FakePublisher fake;
  auto [sender, receiver] = make_channel<PublisherItem>();
  std::thread loop([&fake, receiver = std::move(receiver)]() mutable {
    serve_publisher_items(receiver, fake.function());
  });

  ASSERT_TRUE(sender.send(joints("a")).ok());
  ASSERT_TRUE(sender.send(json("refused")).ok());
  ASSERT_TRUE(sender.send(json("b")).ok());
  ASSERT_TRUE(sender.send(heartbeat("c")).ok());
  ASSERT_TRUE(sender.send(joints("refused")).ok());
  auto [reply, answered] = make_channel<Unit>();
  ASSERT_TRUE(sender.send({PublisherItem::Flush{std::move(reply)}}).ok());
  ASSERT_TRUE(answered.receive().has_value());
  // Everything before the barrier is handled by the time it is answered.
  EXPECT_EQ(fake.published(), (std::vector<std::string>{"4:a", "3:b", "8:c"}));

  // A barrier whose waiter is gone is dropped quietly, and the loop goes on.
  {
    auto [gone_reply, gone] = make_channel<Unit>();
    ASSERT_TRUE(sender.send({PublisherItem::Flush{std::move(gone_reply)}}).ok());
  }
  ASSERT_TRUE(sender.send(json("d")).ok());
  { auto last = std::move(sender); }  // the loop ends once every sending end is gone
  loop.join();
  EXPECT_EQ(fake.published(), (std::vector<std::string>{"4:a", "3:b", "8:c", "3:d"}));

  const auto events = capture.events("data_daemon_bridge::publisher");
  ASSERT_EQ(events.size(), 2u);
  for (const auto& e : events) {
    EXPECT_EQ(e.level, EventLevel::Warn);
    EXPECT_EQ(e.target, "data_daemon_bridge::publisher");
    EXPECT_EQ(e.message, "failed to publish data envelope");
    EXPECT_EQ(e.field("error"), "daemon said no");
  }
}

}  // namespace
}  // namespace data_daemon_bridge
