// Memory that runs out on the data publisher's thread. An address-space limit in a forked child
// leaves no room for a large envelope's encoding or a large joint frame's samples, for real;
// failing allocations (support/allocation_faults.h) reach every other allocation of the loop.
// The item at hand is dropped with a WARN, nothing leaves the loop as an exception, a flush's
// wait ends, and the items that are published are whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "publisher/publisher_loop.h"
#include "support/address_space.h"
#include "support/allocation_faults.h"
#include "support/event_capture.h"
#include "support/forked_child.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::Envelope;
using data_daemon_shared::Result;
using data_daemon_shared::Unit;
using testing::AllocationFaults;
using Encoding = std::vector<uint8_t>;

// Publishes by encoding, as publish_envelope does first (the daemon link itself is not what is
// tested here), and keeps each encoding. Keeping it is the test's own work and never fails.
class EncodingPublisher {
 public:
  EnvelopePublisher function() {
    return [this](const Envelope& e, std::chrono::nanoseconds) -> Result<Unit, PublisherError> {
      auto bytes = data_daemon_shared::encode_envelope(e);
      testing::AllocationsAllowed bookkeeping;
      published_.push_back(std::move(bytes).value());
      return Unit{};
    };
  }
  std::vector<Encoding> take() { return std::exchange(published_, {}); }

 private:
  std::vector<Encoding> published_;
};

struct Served {
  bool escaped = false;   // serve_publisher_items threw
  bool answered = false;  // the Flush behind the items was answered (else released)
  uint64_t failures = 0;  // allocations made to fail
};

// Serves the items and a Flush behind them until the channel is closed; allocations fail only
// while the loop runs (from fail_at on with `sustained`; never with fail_at 0).
Served serve(std::vector<PublisherItem> items, EncodingPublisher& publisher, uint64_t fail_at = 0,
             bool sustained = false) {
  auto [reply, waiter] = make_channel<Unit>();
  const EnvelopePublisher publish = publisher.function();
  Served served;
  {
    PublisherReceiver receiver = [&] {
      auto [sender, receiver] = make_channel<PublisherItem>();
      for (PublisherItem& item : items) (void)sender.send(std::move(item));
      (void)sender.send(PublisherItem{PublisherItem::Flush{std::move(reply)}});
      return std::move(receiver);
    }();
    AllocationFaults faults(fail_at == 0 ? UINT64_MAX : fail_at, sustained);
    try {
      serve_publisher_items(receiver, publish);
    } catch (...) {
      served.escaped = true;
    }
    served.failures = faults.failures();
  }  // should the loop have thrown, what it left in the channel (the Flush) is released here
  served.answered = waiter.receive().has_value();
  return served;
}

PublisherItem json(std::string robot, size_t payload_bytes) {
  JsonSample sample;
  sample.robot_id = std::move(robot);
  sample.data_type = "STATE";
  sample.name = "gripper";
  sample.payload.assign(payload_bytes, 0x7b);
  sample.timestamp_ns = 5;
  return {PublisherItem::Json{std::move(sample)}};
}

PublisherItem joints(std::string robot, size_t count) {
  JointFrame frame;
  frame.robot_id = std::move(robot);
  frame.data_type = "JOINT_POSITIONS";
  for (size_t i = 0; i < count; ++i) {
    if (i != 0) frame.names.push_back('\0');
    frame.names += "joint_" + std::to_string(i);
    frame.values.push_back(0.5 * static_cast<double>(i));
  }
  frame.timestamp_ns = 7;
  return {PublisherItem::Joints{std::move(frame)}};
}

TEST(PublisherOutOfMemory, AnItemTooLargeForTheMemoryLeftIsDroppedAndTheSameItemGoesOutLater) {
  if (!testing::kAddressSpaceLimitWorks) {
    GTEST_SKIP() << "the sanitizer's shadow memory fits under no address-space limit";
  }
  const struct {
    const char* what;
    PublisherItem (*make)();
  } cases[] = {
      // Its payload moves into the envelope; the encoding needs as much again.
      {"the encoding of a 900 KiB JSON sample", [] { return json("big", 900 << 10); }},
      // One BatchedSample a joint, reserved at once.
      {"the samples of 20,000 joints", [] { return joints("big", 20'000); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(testing::run_in_child([&] {
                testing::EventCapture events;
                EncodingPublisher publisher;
                PublisherItem item = c.make();  // made while memory lasts
                CHILD_CHECK(testing::limit_address_space(256 << 10));
                std::vector<PublisherItem> items;
                items.push_back(std::move(item));
                const Served served = serve(std::move(items), publisher);
                CHILD_CHECK(testing::lift_address_space_limit());
                CHILD_CHECK(!served.escaped);
                CHILD_CHECK(served.answered);
                CHILD_CHECK(publisher.take().empty());
                const auto warnings = events.events(std::string(kPublisherLogTarget));
                CHILD_CHECK(std::any_of(warnings.begin(), warnings.end(), [](const auto& e) {
                  return e.message == "out of memory; dropping item";
                }));

                std::vector<PublisherItem> again;
                again.push_back(c.make());
                CHILD_CHECK(serve(std::move(again), publisher).answered);
                CHILD_CHECK(publisher.take().size() == 1);
                return 0;
              }),
              "exit 0")
        << c.what;
  }
}

std::vector<PublisherItem> every_kind(const std::string& robot) {
  std::vector<PublisherItem> items;
  items.push_back(json(robot, 9));
  items.push_back(joints(robot, 3));
  data_daemon_shared::VideoChunkReady chunk;
  chunk.robot_id = robot;
  chunk.name = "cam";
  chunk.frame_count = 2;
  chunk.frame_timestamps_ns = {1, 2};
  chunk.frame_timestamps_s = {1e-9, 2e-9};
  chunk.frame_offsets_us = {0, 1};
  items.push_back({PublisherItem::Envelope{std::move(chunk)}});
  items.push_back(json(robot, 0));
  return items;
}

TEST(PublisherOutOfMemory, WhicheverAllocationFailsTheLoopGoesOnAndWhatItPublishesIsWhole) {
  testing::EventCapture events;
  EncodingPublisher publisher;
  ASSERT_TRUE(serve(every_kind("sweep"), publisher).answered);
  const std::vector<Encoding> all = publisher.take();
  ASSERT_EQ(all.size(), 4u);

  for (const bool sustained : {false, true}) {
    for (uint64_t fail_at = 1;; ++fail_at) {
      SCOPED_TRACE((sustained ? "every allocation from #" : "allocation #") +
                   std::to_string(fail_at));
      ASSERT_LT(fail_at, 100'000u);
      const Served served = serve(every_kind("sweep"), publisher, fail_at, sustained);
      ASSERT_FALSE(served.escaped);  // and the Flush's wait has ended, answered or not
      const std::vector<Encoding> published = publisher.take();
      // What went out is whole and in order: the items' own encodings, some perhaps missing.
      auto next = all.begin();
      for (const Encoding& encoding : published) {
        next = std::find(next, all.end(), encoding);
        ASSERT_NE(next, all.end());
        ++next;
      }
      if (!sustained) {
        EXPECT_GE(published.size() + 1, all.size());  // at most the item at hand
      }
      if (served.failures == 0) {
        EXPECT_EQ(published, all);
        break;
      }
    }
  }
}

}  // namespace
}  // namespace data_daemon_bridge
