#include "publisher/data_publisher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <thread>
#include <vector>

#include "port/thread.h"
#include "support/event_capture.h"
#include "support/forked_child.h"

// Every test runs its publisher in a forked child, so each starts from a process without one.
namespace data_daemon_bridge {
namespace {

using data_daemon_shared::Err;
using data_daemon_shared::Result;
using data_daemon_shared::Unit;
using testing::run_in_child;

std::atomic<int> spawns{0};

Result<Unit, std::string> counting_starter(std::string name, size_t stack_bytes,
                                           std::function<void()> body) {
  if (name != "qs-data-publisher") return Err("unexpected thread name " + name);
  if (stack_bytes != 0) return Err(std::string("expected the platform's stack size"));
  spawns.fetch_add(1);
  return port::start_detached_thread(std::move(name), stack_bytes, std::move(body));
}

Result<Unit, std::string> failing_starter(std::string, size_t, std::function<void()>) {
  return Err(std::string("Resource temporarily unavailable"));
}

PublisherItem sample() { return {PublisherItem::Json{JsonSample{}}}; }

TEST(DataPublisher, RacingFirstCallersStartOneThread) {
  const std::string ended = run_in_child([] {
    set_data_publisher_thread_starter_for_testing(counting_starter);
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&] {
        start.arrive_and_wait();
        if (drain_data_publisher()) answered.fetch_add(1);
        // The thread's end is cached for its next calls.
        if (cached_data_publisher_sender()) answered.fetch_add(1);
      });
    }
    for (auto& t : threads) t.join();
    CHILD_CHECK(answered.load() == 2 * kThreads);
    CHILD_CHECK(spawns.load() == 1);
    CHILD_CHECK(drain_data_publisher());
    CHILD_CHECK(spawns.load() == 1);
    return 0;
  });
  EXPECT_EQ(ended, "exit 0");
}

TEST(DataPublisher, FailedStartDropsTheItemLogsAndLetsTheNextCallRetry) {
  const std::string ended = run_in_child([] {
    testing::EventCapture capture;
    set_data_publisher_thread_starter_for_testing(failing_starter);
    CHILD_CHECK(!get_or_spawn_data_publisher().send(sample()).ok());
    CHILD_CHECK(!drain_data_publisher());  // returns at once: nothing to wait for
    CHILD_CHECK(!cached_data_publisher_sender().has_value());
    const auto events = capture.events("data_daemon_bridge::publisher");
    CHILD_CHECK(events.size() == 2);  // one a failed start
    for (const auto& e : events) {
      CHILD_CHECK(e.level == EventLevel::Error);
      CHILD_CHECK(e.target == "data_daemon_bridge::publisher");
      CHILD_CHECK(e.message == "failed to spawn data publisher thread; dropping sample");
      CHILD_CHECK(e.field("error") == "Resource temporarily unavailable");
    }

    set_data_publisher_thread_starter_for_testing(counting_starter);
    CHILD_CHECK(drain_data_publisher());
    CHILD_CHECK(spawns.load() == 1);
    CHILD_CHECK(cached_data_publisher_sender().has_value());
    return 0;
  });
  EXPECT_EQ(ended, "exit 0");
}

TEST(DataPublisher, ForkedChildStartsItsOwnThreadAndChannel) {
  const std::string ended = run_in_child([] {
    set_data_publisher_thread_starter_for_testing(counting_starter);
    CHILD_CHECK(drain_data_publisher());
    CHILD_CHECK(cached_data_publisher_sender().has_value());
    CHILD_CHECK(spawns.load() == 1);

    // The grandchild inherits a cached end and a singleton naming its parent's thread.
    const std::string grandchild = run_in_child([] {
      CHILD_CHECK(!cached_data_publisher_sender().has_value());
      spawns.store(0);
      CHILD_CHECK(drain_data_publisher());
      CHILD_CHECK(spawns.load() == 1);
      return 0;
    });
    if (grandchild != "exit 0") return 2;

    CHILD_CHECK(drain_data_publisher());  // the parent's thread is untouched
    CHILD_CHECK(spawns.load() == 1);
    return 0;
  });
  EXPECT_EQ(ended, "exit 0");
}

// Holds DATA_PUBLISHER's lock (the start happens under it) until `release_start` is set.
std::atomic<bool> start_entered{false};
std::atomic<bool> release_start{false};

Result<Unit, std::string> stalling_starter(std::string name, size_t stack_bytes,
                                           std::function<void()> body) {
  start_entered.store(true);
  while (!release_start.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port::start_detached_thread(std::move(name), stack_bytes, std::move(body));
}

TEST(DataPublisher, ForkWhileAnotherThreadHoldsTheLockLeavesTheChildUsable) {
  const std::string ended = run_in_child([] {
    set_data_publisher_thread_starter_for_testing(stalling_starter);
    std::thread holder([] { (void)drain_data_publisher(); });
    while (!start_entered.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    const std::string child = run_in_child(
        [] {
          set_data_publisher_thread_starter_for_testing(counting_starter);
          CHILD_CHECK(drain_data_publisher());
          CHILD_CHECK(spawns.load() == 1);
          return 0;
        },
        30);

    release_start.store(true);
    holder.join();
    CHILD_CHECK(child == "exit 0");
    CHILD_CHECK(drain_data_publisher());
    return 0;
  });
  EXPECT_EQ(ended, "exit 0");
}

}  // namespace
}  // namespace data_daemon_bridge
