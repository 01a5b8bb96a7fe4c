#include "publisher/publisher_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "publisher/publish.h"
#include "support/event_capture.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::Envelope;
using data_daemon_shared::Err;
using data_daemon_shared::Result;
using data_daemon_shared::Unit;

// Records what the loop publishes as "kind:robot_id"; fails envelopes of robot "refused" with a
// loan error, and finds no subscriber for those of robots whose names start with "gone", as
// publish_envelope does with no daemon. Notes every subscriber timeout it is given.
class FakePublisher {
 public:
  EnvelopePublisher function() {
    return [this](const Envelope& e,
                  std::chrono::nanoseconds subscriber_wait) -> Result<Unit, PublisherError> {
      const std::string robot = std::visit(
          [](const auto& v) -> std::string {
            if constexpr (requires { v.robot_id; }) return v.robot_id;
            return "";
          },
          e);
      std::lock_guard lock(mutex_);
      timeouts_.push_back(subscriber_wait);
      if (robot == "refused") return Err(PublisherError{PublisherError::Loan{"daemon said no"}});
      if (robot.starts_with("gone")) return Err(no_subscriber_error(COMMAND_SUBSCRIBER_TIMEOUT));
      published_.push_back(std::to_string(e.index()) + ":" + robot);
      return Unit{};
    };
  }
  std::vector<std::string> published() {
    std::lock_guard lock(mutex_);
    return published_;
  }
  std::vector<std::chrono::nanoseconds> timeouts() {
    std::lock_guard lock(mutex_);
    return timeouts_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> published_;
  std::vector<std::chrono::nanoseconds> timeouts_;
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
    EXPECT_EQ(e.field("error"), "failed to loan sample: daemon said no");
  }
}

// Runs the loop over `items` and returns once it has handled them all.
void serve(FakePublisher& fake, std::vector<PublisherItem> items) {
  auto [sender, receiver] = make_channel<PublisherItem>();
  for (auto& item : items) ASSERT_TRUE(sender.send(std::move(item)).ok());
  { auto last = std::move(sender); }
  serve_publisher_items(receiver, fake.function());
}

TEST(PublisherLoop, OnceAPublishFindsNoDaemonEachEnvelopeGetsOneAttemptUntilOneIsDelivered) {
  using namespace std::chrono_literals;
  testing::EventCapture capture;
  FakePublisher fake;
  std::vector<PublisherItem> items;
  items.push_back(joints("a"));
  items.push_back(json("gone1"));  // waits the whole subscriber wait, and finds nobody
  items.push_back(json("gone2"));  // one attempt each from here on
  items.push_back(heartbeat("gone3"));
  items.push_back(joints("refused"));  // another failure leaves the daemon absent
  items.push_back(json("b"));          // a daemon came: delivered on its one attempt
  items.push_back(json("gone4"));      // the whole wait again
  items.push_back(json("gone5"));
  serve(fake, std::move(items));

  EXPECT_EQ(fake.published(), (std::vector<std::string>{"4:a", "3:b"}));
  EXPECT_EQ(fake.timeouts(),
            (std::vector<std::chrono::nanoseconds>{5s, 5s, 0s, 0s, 0s, 0s, 5s, 0s}));
  const std::string absent =
      "failed to send sample: no data-daemon command subscriber connected within 5s";
  std::vector<std::string> errors;
  for (const auto& e : capture.events("data_daemon_bridge::publisher")) {
    EXPECT_EQ(e.level, EventLevel::Warn);
    EXPECT_EQ(e.message, "failed to publish data envelope");
    errors.push_back(e.field("error"));
  }
  // Every dropped envelope is reported.
  EXPECT_EQ(errors,
            (std::vector<std::string>{absent, absent, absent,
                                      "failed to loan sample: daemon said no", absent, absent}));
}

}  // namespace
}  // namespace data_daemon_bridge
