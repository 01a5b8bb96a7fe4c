// publish_with_deadline on a service of this test process alone, with short time-outs.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "data_daemon_ipc/publish_subscribe.h"
#include "gtest/gtest.h"
#include "publisher/ipc_handles.h"
#include "publisher/publish.h"
#include "support/child_process.h"
#include "support/unwrap.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_bridge::testing::ChildProcess;
using data_daemon_bridge::testing::helper_path;
using namespace data_daemon_ipc;
using namespace std::chrono_literals;

using data_daemon_bridge::testing::unwrap;

struct PrivateCommands {
  std::string service_name;
  Node node = unwrap(Node::create());
  ServiceName name;
  PortFactoryPublishSubscribe service;
  Publisher publisher;

  explicit PrivateCommands(const std::string& leaf,
                           UnableToDeliverStrategy strategy = UnableToDeliverStrategy::Block)
      : service_name("data_bridge_test/" + std::to_string(getpid()) + "/" + leaf),
        name(unwrap(ServiceName::create(service_name))),
        service(unwrap(
            PortFactoryPublishSubscribe::open_or_create(node, name, kCommandsServiceSettings))),
        publisher(unwrap(service.publisher(MAX_ENVELOPE_BYTES, strategy))) {}
};

const uint8_t kBytes[] = {0x06};

TEST(PublishWithDeadline, WithNoSubscriberFailsOnceTheTimeoutHasPassed) {
  PrivateCommands link("deadline");
  const auto start = std::chrono::steady_clock::now();
  auto result = publish_with_deadline(link.publisher, link.service, kBytes, 1s, 10ms);
  ASSERT_FALSE(result.ok());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(publisher_error_text(result.error()),
            "failed to send sample: no data-daemon command subscriber connected within 1s");
}

TEST(PublishWithDeadline, MakesItsFirstAttemptEvenWithNoTimeLeft) {
  PrivateCommands link("first_attempt");
  ChildProcess peer({helper_path("ipc_peer"), "subscribe", link.service_name, "1"});
  ASSERT_TRUE(peer.wait_for_line("ready"));
  EXPECT_TRUE(publish_with_deadline(link.publisher, link.service, kBytes, 0s, 10ms).ok());
  EXPECT_EQ(peer.read_line(), "06");
  EXPECT_EQ(peer.read_line(), "done");
}

TEST(PublishWithDeadline, ASubscriberThatAppearsWhileRetryingGetsTheNextAttemptOnly) {
  PrivateCommands link("late_subscriber");
  // The peer subscribes only after 300 ms, so the first attempts reach nobody.
  ChildProcess peer({helper_path("ipc_peer"), "subscribe", link.service_name, "1", "300"});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(publish_with_deadline(link.publisher, link.service, kBytes, 20s, 10ms).ok());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms)
      << "the first attempts should have found nobody";
  EXPECT_EQ(peer.read_line(), "ready");
  EXPECT_EQ(peer.read_line(), "06");
  EXPECT_EQ(peer.read_line(), "done") << "an attempt that reached nobody was delivered later";
}

TEST(PublishWithDeadline, ALoanBeyondThePublishersCapacityFailsAtOnce) {
  PrivateCommands link("too_long");
  const std::vector<uint8_t> bytes(MAX_ENVELOPE_BYTES + 1, 0);
  auto result = publish_with_deadline(link.publisher, link.service, bytes, 20s, 10ms);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(publisher_error_text(result.error()),
            "failed to loan sample: LoanError::ExceedsMaxLoanSize");
}

// iceoryx2 0.8.1 waits for room in a full subscriber buffer (the Block strategy) in a sleep loop
// that panics when a signal interrupts it. The binding turns that panic into an error.
TEST(PublishWithDeadline, ASignalDuringABlockedSendEndsItWithAnErrorNotAnAbort) {
  PrivateCommands link("blocked");
  ChildProcess peer({helper_path("ipc_peer"), "hold", link.service_name});
  ASSERT_TRUE(peer.wait_for_line("ready"));

  // A handler without SA_RESTART, as Python installs its own.
  struct sigaction poke {
  }, saved{};
  poke.sa_handler = [](int) {};
  sigemptyset(&poke.sa_mask);
  sigaction(SIGUSR1, &poke, &saved);
  const pthread_t publishing = pthread_self();
  std::atomic<bool> finished{false};
  std::thread poker([&] {
    const auto give_up = std::chrono::steady_clock::now() + 20s;
    while (!finished.load()) {
      pthread_kill(publishing, SIGUSR1);
      std::this_thread::sleep_for(20ms);
      // Should the signal never end the wait, let the peer drain its buffer instead of hanging.
      if (std::chrono::steady_clock::now() > give_up) peer.signal(SIGUSR2);
    }
  });

  // 64 samples fill the subscriber's buffer; the next send waits until a signal ends it.
  std::optional<PublisherError> error;
  for (int i = 0; i < 100 && !error; ++i) {
    auto result = publish_with_deadline(link.publisher, link.service, kBytes, 20s, 10ms);
    if (!result) error = result.error();
  }
  finished.store(true);
  poker.join();
  sigaction(SIGUSR1, &saved, nullptr);

  ASSERT_TRUE(error.has_value());
  EXPECT_TRUE(publisher_error_text(*error).starts_with(
      "failed to send sample: panic in the iceoryx2 binding: "))
      << publisher_error_text(*error);

  // Once the subscriber takes its samples again, the same publisher sends as before.
  peer.signal(SIGUSR2);
  auto after = publish_with_deadline(link.publisher, link.service, kBytes, 20s, 10ms);
  EXPECT_TRUE(after.ok()) << publisher_error_text(after.error());
}

// The command link's own publishers leave a full buffer to publish_with_deadline: it waits while
// the subscriber lives, and gives the wait for a subscriber once the subscriber's process is gone,
// however full its buffer was.
TEST(PublishWithDeadline, AFullBufferIsWaitedOutWhileItsSubscriberLivesAndNotAfterItDies) {
  for (const bool dies : {false, true}) {
    SCOPED_TRACE(dies ? "subscriber killed" : "subscriber drains");
    PrivateCommands link(dies ? "full_dies" : "full_drains",
                         UnableToDeliverStrategy::DiscardSample);
    ChildProcess peer({helper_path("ipc_peer"), "hold", link.service_name});
    ASSERT_TRUE(peer.wait_for_line("ready"));
    for (int i = 0; i < 64; ++i) {
      ASSERT_TRUE(publish_with_deadline(link.publisher, link.service, kBytes, 1s, 10ms).ok());
    }
    std::atomic<bool> returned{false};
    std::optional<PublishResult> result;
    std::thread sending([&] {
      result = publish_with_deadline(link.publisher, link.service, kBytes, 1s, 10ms);
      returned.store(true);
    });
    // Longer than the subscriber wait: a full buffer is no missing subscriber.
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(returned.load());
    peer.signal(dies ? SIGKILL : SIGUSR2);
    sending.join();
    ASSERT_TRUE(result.has_value());
    if (dies) {
      ASSERT_FALSE(result->ok());
      EXPECT_EQ(publisher_error_text(result->error()),
                "failed to send sample: no data-daemon command subscriber connected within 1s");
    } else {
      EXPECT_TRUE(result->ok());
    }
  }
}

// A subscriber that is only behind: its full buffer is tried again within microseconds, not
// after a whole retry interval, and no dead-node cleanup runs before the wait has lasted one.
TEST(PublishWithDeadline, AFullBufferIsTriedAgainSoonAndCleanedUpOnlyAfterARetryInterval) {
  PrivateCommands link("full_soon", UnableToDeliverStrategy::DiscardSample);
  ChildProcess peer({helper_path("ipc_peer"), "hold", link.service_name});
  ASSERT_TRUE(peer.wait_for_line("ready"));
  for (int i = 0; i < 64; ++i) {
    ASSERT_TRUE(publish_with_deadline(link.publisher, link.service, kBytes, 1s, 10ms).ok());
  }
  const FullBufferWaitCounts before = full_buffer_wait_counts();
  // The peer takes its samples once the refused send was tried three more times. A wait that
  // paused a whole retry interval (30 s) between attempts would not get there: the peer is
  // then released after 20 s, only so that the wait ends.
  std::thread releaser([&] {
    const auto give_up = std::chrono::steady_clock::now() + 20s;
    while (full_buffer_wait_counts().retries - before.retries < 3 &&
           std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(100us);
    }
    peer.signal(SIGUSR2);
  });
  auto result = publish_with_deadline(link.publisher, link.service, kBytes, 1s, 30s);
  releaser.join();
  EXPECT_TRUE(result.ok());
  const FullBufferWaitCounts after = full_buffer_wait_counts();
  EXPECT_GE(after.retries - before.retries, 3u);
  EXPECT_EQ(after.cleanups - before.cleanups, 0u);
}

}  // namespace
}  // namespace data_daemon_bridge
