// The process-wide record with its thread cache: a forked child never serves its parent's value,
// whether the fork-child handler is in place or its registration failed, and a failed
// registration is logged once and followed by the user's policy.
#include "concurrency/process_singleton.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "support/event_capture.h"
#include "support/forked_child.h"

namespace data_daemon_bridge {
namespace {

using testing::run_in_child;

constexpr std::string_view kTarget = "process_singleton_test";
constexpr std::string_view kWarning = "registration failed; the test's cache heals another way";

// The value handed out is the id of the process whose record made it.
struct Record {
  uint32_t made_in = 0;  // 0 until a slow path of this record's process made the value
};
Record fresh_record() { return {}; }

std::atomic<int> slow_paths{0};

// One user of the helper with its own handler, record and thread cache.
template <WithoutForkHandler Fallback>
struct User {
  static void child() { cache.forget_after_fork(); }

  static uint32_t get() {
    return singleton.get(cache, [](Record& record, uint32_t pid) -> SlowPathValue<uint32_t> {
      slow_paths.fetch_add(1);
      if (record.made_in == 0) record.made_in = pid;
      return {record.made_in, true};
    });
  }

  static inline thread_local ThreadCache<uint32_t> cache;
  static inline constinit ForkChildHandler handler{child, {kTarget, kWarning, Fallback}};
  static inline constinit ProcessSingleton<Record> singleton{handler, fresh_record};
};

int refuse_registration(void (*)()) { return 12; }

// In a child of the test process, so that the registration outcome is the case's own: two calls,
// then a grandchild forked from the same thread, whose cache holds the child's value when the
// policy cached it and no handler emptied it.
template <class Case>
void check(ForkHandlerRegistration registration, bool caches) {
  const std::string ended = run_in_child([&] {
    testing::EventCapture events;
    set_fork_handler_registration_for_testing(registration);
    const uint32_t me = current_process_id();
    CHILD_CHECK(Case::get() == me);
    CHILD_CHECK(Case::get() == me);
    CHILD_CHECK(slow_paths.load() == (caches ? 1 : 2));
    CHILD_CHECK(Case::cache.peek().has_value() == caches);

    const auto warnings = events.events(std::string(kTarget));
    if (registration == nullptr) {
      CHILD_CHECK(warnings.empty());
    } else {
      CHILD_CHECK(warnings.size() == 1);  // not retried
      CHILD_CHECK(warnings[0].level == EventLevel::Warn);
      CHILD_CHECK(warnings[0].message == kWarning);
      CHILD_CHECK(warnings[0].field("errno") == "12");
    }

    const std::string grandchild = run_in_child([] {
      CHILD_CHECK(Case::get() == current_process_id());
      CHILD_CHECK(Case::get() == current_process_id());
      return 0;
    });
    CHILD_CHECK(grandchild == "exit 0");
    CHILD_CHECK(Case::get() == me);  // the child's value is untouched
    return 0;
  });
  EXPECT_EQ(ended, "exit 0");
}

TEST(ProcessSingleton, RegisteredHandlerCachesAndEmptiesTheForkingThreadsCache) {
  check<User<WithoutForkHandler::kCacheNothing>>(nullptr, true);
}

TEST(ProcessSingleton, FailedRegistrationWithCacheNothingTakesTheSlowPathEveryCall) {
  check<User<WithoutForkHandler::kCacheNothing>>(refuse_registration, false);
}

TEST(ProcessSingleton, FailedRegistrationWithCheckProcessIdHealsTheInheritedCache) {
  check<User<WithoutForkHandler::kCheckProcessId>>(refuse_registration, true);
}

}  // namespace
}  // namespace data_daemon_bridge
