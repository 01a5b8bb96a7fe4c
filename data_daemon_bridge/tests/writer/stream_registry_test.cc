#include "writer/stream_registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "support/forked_child.h"
#include "writer/stream_key.h"

namespace data_daemon_bridge {
namespace {

// The registry is process-wide: each test uses its own robot_id and removes what it added.
void add_streams(std::string_view robot_id, int64_t instance, std::vector<std::string> names) {
  auto registry = lock_stream_registry();
  for (const auto& name : names) {
    registry->streams.emplace(stream_key(robot_id, instance, "RGB_IMAGES", name), nullptr);
  }
}

std::vector<std::string> names_of(
    const std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>>& entries) {
  std::vector<std::string> names;
  for (const auto& [key, state] : entries) names.push_back(parse_stream_key(key).name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(StreamRegistry, CollectsTheStreamsOfOneSource) {
  add_streams("collect", 1, {"a", "b"});
  add_streams("collect", 12, {"c"});

  auto registry = lock_stream_registry();
  std::vector<std::string> keys = stream_keys_with_prefix(*registry, source_key("collect", 1));
  ASSERT_EQ(keys.size(), 2u);

  // The snapshot leaves the registry as it is.
  auto snapshot = snapshot_streams(*registry);
  EXPECT_EQ(registry->streams.size(), snapshot.size());

  // A key that went away in the meantime is skipped.
  keys.push_back(stream_key("collect", 1, "RGB_IMAGES", "gone"));
  EXPECT_EQ(names_of(take_streams(*registry, keys)), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(stream_keys_with_prefix(*registry, source_key("collect", 1)).empty());
  EXPECT_EQ(names_of(take_streams(*registry,
                                  stream_keys_with_prefix(*registry, source_key("collect", 12)))),
            (std::vector<std::string>{"c"}));
}

// Runs body (true: success) in a forked child, which must exit 0 within a bound: a child that
// waits for a lock nobody holds any more is ended by the alarm and fails the test.
template <class Body>
void in_child(Body body) {
  EXPECT_EQ(testing::run_in_child([&] { return body() ? 0 : 1; }, 30), "exit 0");
}

TEST(StreamRegistry, ForkedChildStartsEmpty) {
  add_streams("fork", 1, {"cam"});
  lock_stream_registry()->last_announced[source_key("fork", 1)] = 42;

  in_child([] {
    auto registry = lock_stream_registry();
    return registry->streams.empty() && registry->last_announced.empty() &&
           registry->pid == static_cast<uint32_t>(getpid());
  });

  auto registry = lock_stream_registry();
  EXPECT_EQ(registry->pid, static_cast<uint32_t>(getpid()));
  auto keys = stream_keys_with_prefix(*registry, source_key("fork", 1));
  EXPECT_EQ(take_streams(*registry, std::move(keys)).size(), 1u);
  EXPECT_EQ(registry->last_announced.erase(source_key("fork", 1)), 1u);
}

TEST(StreamRegistry, ForkWhileAnotherThreadHoldsTheLockDoesNotHangTheChild) {
  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    auto registry = lock_stream_registry();
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  in_child([] {
    add_streams("child", 1, {"cam"});
    return lock_stream_registry()->streams.size() == 1;
  });

  release = true;
  holder.join();
}

}  // namespace
}  // namespace data_daemon_bridge
