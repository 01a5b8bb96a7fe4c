#include "events/events.h"

#include <gtest/gtest.h>

namespace data_daemon_bridge {
namespace {

TEST(Events, ReachTheInstalledSinkOnly) {
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", "before any sink");

  std::vector<std::string> seen;
  set_event_sink([&seen](const Event& e) {
    const std::string* error = e.field("error");
    seen.push_back(std::string(event_level_name(e.level)) + " " + std::string(e.target) + " " +
                   std::string(e.message) + " error=" + (error ? *error : "-"));
  });
  EXPECT_TRUE(event_sink_installed());
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", "dropped", {{"error", "boom"}});
  emit_event(EventLevel::Debug, "data_daemon_bridge::test", "plain");
  set_event_sink(nullptr);
  EXPECT_FALSE(event_sink_installed());
  emit_event(EventLevel::Error, "data_daemon_bridge::test", "after removal");

  EXPECT_EQ(seen, (std::vector<std::string>{
                      "WARN data_daemon_bridge::test dropped error=boom",
                      "DEBUG data_daemon_bridge::test plain error=-",
                  }));
}

}  // namespace
}  // namespace data_daemon_bridge
