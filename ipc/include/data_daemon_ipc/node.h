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
};

class ServiceName : public Handle<ddb_ipc_service_name, &ddb_ipc_service_name_drop> {
 public:
  using Handle::Handle;
  static IpcResult<ServiceName> create(std::string_view name);
};

// Forwards iceoryx2's log messages, which never reach the console. Any thread, any time; the
// handler may run on any thread that calls iceoryx2 and must not call iceoryx2 itself.
void set_log_handler(ddb_ipc_log_callback handler);

}  // namespace data_daemon_ipc
