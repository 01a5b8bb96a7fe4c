#include "data_daemon_ipc/node.h"

namespace data_daemon_ipc {

IpcResult<Node> Node::create() {
  ddb_ipc_node* raw = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) { return ddb_ipc_node_create(&raw, e); });
  if (!status) return Err(status.error());
  return Node(raw);
}

IpcResult<ServiceName> ServiceName::create(std::string_view name) {
  ddb_ipc_service_name* raw = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_service_name_new(name.data(), name.size(), &raw, e);
  });
  if (!status) return Err(status.error());
  return ServiceName(raw);
}

void set_log_handler(ddb_ipc_log_callback handler) { ddb_ipc_set_log_callback(handler); }

}  // namespace data_daemon_ipc
