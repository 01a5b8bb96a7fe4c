#include "publisher/publisher_atfork.h"

#include <mutex>
#include <string>

#include "events/events.h"
#include "port/fork.h"
#include "publisher/data_publisher.h"
#include "publisher/ipc_handles_cell.h"

namespace data_daemon_bridge {

namespace {

std::once_flag PUBLISHER_ATFORK_ONCE;
bool publisher_atfork_registered = false;  // written once, under PUBLISHER_ATFORK_ONCE

}  // namespace

bool register_publisher_atfork() {
  const int rc = port::register_fork_child_handler(&publisher_atfork_child);
  if (rc != 0) {
    emit_event(EventLevel::Warn, "data_daemon_bridge::publisher",
               "pthread_atfork registration failed; fork-safety relies on caller-managed cleanup",
               {{"errno", std::to_string(rc)}});
  }
  return rc == 0;
}

bool ensure_publisher_atfork() {
  std::call_once(PUBLISHER_ATFORK_ONCE,
                 [] { publisher_atfork_registered = register_publisher_atfork(); });
  return publisher_atfork_registered;
}

void publisher_atfork_child() {
  forget_ipc_handles();
  forget_data_publisher_sender_after_fork();
}

}  // namespace data_daemon_bridge
