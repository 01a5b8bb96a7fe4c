#include "publisher/ipc_log.h"

#include <string>
#include <vector>

#include "data_daemon_ipc/node.h"
#include "events/events.h"

namespace data_daemon_bridge {

namespace {

EventLevel event_level(uint8_t iceoryx2_level) {
  if (iceoryx2_level <= 2) return EventLevel::Debug;  // trace, debug, info
  if (iceoryx2_level == 3) return EventLevel::Warn;
  return EventLevel::Error;  // error, fatal
}

// Runs on whichever thread made the iceoryx2 call, inside that call, where nothing may unwind:
// it throws nothing (an event that cannot be built or that a sink refuses is lost) and runs no
// Python, so the interpreter never ends the thread in here either. A host's sink must keep to
// the same rule.
void forward(uint8_t level, const char* origin, size_t origin_len, const char* message,
             size_t message_len) noexcept {
  const EventLevel mapped = event_level(level);
  // iceoryx2's warnings reach only a sink the host installed, never stderr by default: the first
  // node of every process without an iceoryx2 configuration file warns that it uses defaults.
  if (mapped == EventLevel::Warn ? !event_sink_installed() : !event_wanted(mapped)) return;
  emit_event_nothrow(mapped, kIpcLogTarget, "iceoryx2 log", [&] {
    return std::vector<EventField>{{"origin", std::string(origin, origin_len)},
                                   {"detail", std::string(message, message_len)}};
  });
}

}  // namespace

void install_ipc_log_forwarding() { data_daemon_ipc::set_log_handler(&forward); }

}  // namespace data_daemon_bridge
