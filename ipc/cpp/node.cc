#include "data_daemon_ipc/node.h"

#include <mutex>

namespace data_daemon_ipc {

namespace {

std::once_flag GLOBAL_CONFIG_ONCE;

}  // namespace

IpcResult<Node> Node::create() {
  // The library loads its configuration lazily on the first node. Loaded here once, under a
  // once-flag that every creating thread observes, two threads' first nodes never both load it
  // (which would log a warning) and the load visibly happens before any node uses it.
  std::call_once(GLOBAL_CONFIG_ONCE, [] { ddb_ipc_load_global_config(nullptr); });
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

void cleanup_dead_nodes() { ddb_ipc_cleanup_dead_nodes(); }

void set_log_handler(ddb_ipc_log_callback handler) { ddb_ipc_set_log_callback(handler); }

}  // namespace data_daemon_ipc
