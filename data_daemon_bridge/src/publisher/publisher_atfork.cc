#include "publisher/publisher_atfork.h"

#include <string>

#include "events/events.h"
#include "port/fork.h"
#include "publisher/ipc_handles_cell.h"

namespace data_daemon_bridge {

void register_publisher_atfork() {
  const int rc = port::register_fork_child_handler(&publisher_atfork_child);
  if (rc != 0) {
    emit_event(EventLevel::Warn, "data_daemon_bridge::publisher",
               "pthread_atfork registration failed; fork-safety relies on caller-managed cleanup",
               {{"errno", std::to_string(rc)}});
  }
}

void publisher_atfork_child() { forget_ipc_handles(); }

}  // namespace data_daemon_bridge
