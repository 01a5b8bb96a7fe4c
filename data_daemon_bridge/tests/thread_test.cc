#include "port/thread.h"

#include <gtest/gtest.h>

#include <future>

namespace data_daemon_bridge {
namespace {

TEST(PortThread, SpawnedThreadNamesItself) {
  std::promise<std::string> seen_name;
  ASSERT_TRUE(port::start_detached_thread("qs-data-publisher", 0, [&seen_name] {
                seen_name.set_value(port::current_thread_name());
              }).ok());
  const std::string name = seen_name.get_future().get();
#if defined(__APPLE__)
  EXPECT_EQ(name, "qs-data-publisher");
#else
  EXPECT_EQ(name, "data-publisher");  // Linux keeps 15 characters: the prefix goes first
#endif
}

}  // namespace
}  // namespace data_daemon_bridge
