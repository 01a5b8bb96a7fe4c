// Node and ServiceName.
#pragma once

#include <string_view>

#include "data_daemon_ipc/handle.h"

namespace data_daemon_ipc {

// An iceoryx2 node of the ipc service type, with the library's default settings (no name, the
// library's global configuration, loaded once per process before the first node) but signal
// handling disabled. Any thread may use it.
class Node : public Handle<ddb_ipc_node, &ddb_ipc_node_drop> {
 public:
  using Handle::Handle;
  static IpcResult<Node> create();

  // Whether a wait on this node would replace the host's SIGINT and SIGTERM handlers with
  // iceoryx2's. Never, for the nodes create() makes.
  bool handles_termination_requests() const {
    return ddb_ipc_node_handles_termination_requests(raw());
  }
};

// Removes what nodes of dead processes left behind (port registrations, connections, shared
// memory), as far as this process is allowed to. Any thread.
void cleanup_dead_nodes();

class ServiceName : public Handle<ddb_ipc_service_name, &ddb_ipc_service_name_drop> {
 public:
  using Handle::Handle;
  static IpcResult<ServiceName> create(std::string_view name);
};

// Forwards iceoryx2's log messages, which never reach the console. Any thread, any time; the
// handler may run on any thread that calls iceoryx2, must not call iceoryx2 itself and must not
// unwind (ipc.h).
void set_log_handler(ddb_ipc_log_callback handler);

}  // namespace data_daemon_ipc
