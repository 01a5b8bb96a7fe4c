#include "publisher/ipc_log.h"

#include <string>

#include "data_daemon_ipc/node.h"
#include "events/events.h"
#include "port/thread_exit.h"

namespace data_daemon_bridge {

namespace {

EventLevel event_level(uint8_t iceoryx2_level) {
  if (iceoryx2_level <= 2) return EventLevel::Debug;  // trace, debug, info
  if (iceoryx2_level == 3) return EventLevel::Warn;
  return EventLevel::Error;  // error, fatal
}

// Runs on whichever thread made the iceoryx2 call; throws nothing but a thread exit, which is
// never swallowed (port/thread_exit.h).
void forward(uint8_t level, const char* origin, size_t origin_len, const char* message,
             size_t message_len) {
  const EventLevel mapped = event_level(level);
  // iceoryx2's warnings reach only a sink the host installed, never stderr by default: the first
  // node of every process without an iceoryx2 configuration file warns that it uses defaults.
  if (mapped == EventLevel::Warn ? !event_sink_installed() : !event_wanted(mapped)) return;
  try {
    emit_event(mapped, kIpcLogTarget, "iceoryx2 log",
               {{"origin", std::string(origin, origin_len)},
                {"detail", std::string(message, message_len)}});
  } catch (...) {
    // A sink that throws loses its event; iceoryx2 must not see the exception.
    port::rethrow_if_thread_exit();
  }
}

}  // namespace

void install_ipc_log_forwarding() { data_daemon_ipc::set_log_handler(&forward); }

}  // namespace data_daemon_bridge
