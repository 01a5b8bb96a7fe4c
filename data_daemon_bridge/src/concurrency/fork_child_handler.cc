#include "concurrency/fork_child_handler.h"

#include <string>

#include "events/events.h"
#include "port/fork.h"

namespace data_daemon_bridge {

namespace {

std::atomic<ForkHandlerRegistration> REGISTRATION_FOR_TESTING{nullptr};

}  // namespace

bool ForkChildHandler::register_once() {
  std::call_once(once_, [this] {
    ForkHandlerRegistration registration = REGISTRATION_FOR_TESTING.load(std::memory_order_acquire);
    if (registration == nullptr) registration = port::register_fork_child_handler;
    if (const int error = registration(child_); error != 0) {
      emit_event(EventLevel::Warn, policy_.log_target, policy_.warning,
                 {{"errno", std::to_string(error)}});
      return;
    }
    registered_.store(true, std::memory_order_release);
  });
  return registered();
}

void set_fork_handler_registration_for_testing(ForkHandlerRegistration registration) {
  REGISTRATION_FOR_TESTING.store(registration, std::memory_order_release);
}

}  // namespace data_daemon_bridge
