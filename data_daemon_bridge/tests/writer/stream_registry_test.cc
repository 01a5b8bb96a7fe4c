#include "writer/stream_registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <tuple>

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

// The names of the source's streams, as the registry holds them.
std::vector<std::string> names_of_source(const StreamRegistry& registry, std::string_view robot_id,
                                         int64_t instance) {
  std::vector<std::string> names;
  for (const auto& [key, state] : registry.streams) {
    if (key.starts_with(source_key(robot_id, instance)))
      names.push_back(parse_stream_key(key).name);
  }
  return names;
}

TEST(StreamRegistry, TakesAndErasesTheStreamsOfOneSourceOnly) {
  add_streams("collect", 1, {"b", "a"});
  add_streams("collect", 12, {"c"});
  add_streams("collect", -1, {"d"});
  add_streams("collec", 1, {"e"});  // a robot_id that the other one begins with
  add_streams("collectx", 1, {"f"});

  auto registry = lock_stream_registry();
  // The snapshot leaves the registry as it is.
  auto snapshot = snapshot_streams(*registry);
  EXPECT_EQ(registry->streams.size(), snapshot.size());

  // One at a time, in key order, until the source has none.
  std::vector<std::string> taken;
  for (;;) {
    StreamMap::node_type node = take_source_stream(*registry, "collect", 1);
    if (node.empty()) break;
    taken.push_back(std::string(view_stream_key(node.key()).name));
  }
  EXPECT_EQ(taken, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(names_of_source(*registry, "collect", 12), (std::vector<std::string>{"c"}));

  erase_source_streams(*registry, "collect", 12);
  EXPECT_TRUE(names_of_source(*registry, "collect", 12).empty());
  for (const auto& [robot_id, instance, name] :
       {std::tuple<std::string, int64_t, std::string>{"collect", -1, "d"},
        {"collec", 1, "e"},
        {"collectx", 1, "f"}}) {
    EXPECT_EQ(names_of_source(*registry, robot_id, instance), (std::vector<std::string>{name}))
        << robot_id << " " << instance;
    erase_source_streams(*registry, robot_id, instance);
    EXPECT_TRUE(names_of_source(*registry, robot_id, instance).empty());
  }
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
  EXPECT_FALSE(take_source_stream(*registry, "fork", 1).empty());
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
