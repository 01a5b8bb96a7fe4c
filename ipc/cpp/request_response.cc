#include "data_daemon_ipc/request_response.h"

namespace data_daemon_ipc {

IpcResult<PortFactoryRequestResponse> PortFactoryRequestResponse::open_or_create(
    const Node& node, const ServiceName& name, const RequestResponseSettings& settings) {
  const ddb_ipc_request_response_settings c_settings{settings.max_clients, settings.max_servers,
                                                     settings.max_nodes};
  ddb_ipc_port_factory_request_response* raw = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_request_response_open_or_create(node.raw(), name.raw(), &c_settings, &raw, e);
  });
  if (!status) return Err(status.error());
  return PortFactoryRequestResponse(raw);
}

IpcResult<Client> PortFactoryRequestResponse::client(uint64_t initial_max_slice_len) const {
  ddb_ipc_client* raw = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_client_create(this->raw(), initial_max_slice_len, &raw, e);
  });
  if (!status) return Err(status.error());
  return Client(raw);
}

IpcResult<Server> PortFactoryRequestResponse::server(uint64_t initial_max_slice_len) const {
  ddb_ipc_server* raw = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_server_create(this->raw(), initial_max_slice_len, &raw, e);
  });
  if (!status) return Err(status.error());
  return Server(raw);
}

IpcResult<RequestMutUninit> Client::loan_slice_uninit(uint64_t len) const {
  ddb_ipc_request_mut_uninit* raw = nullptr;
  uint8_t* payload = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_client_loan_slice_uninit(this->raw(), len, &raw, &payload, e);
  });
  if (!status) return Err(status.error());
  return RequestMutUninit(raw, {payload, static_cast<size_t>(len)});
}

IpcResult<PendingResponse> send(RequestMutUninit&& request) {
  ddb_ipc_pending_response* raw = nullptr;
  auto status =
      ipc_call([&](ddb_ipc_error* e) { return ddb_ipc_request_mut_send(request.take(), &raw, e); });
  if (!status) return Err(status.error());
  return PendingResponse(raw);
}

IpcResult<std::optional<Response>> PendingResponse::receive() const {
  ddb_ipc_response* raw = nullptr;
  const uint8_t* payload = nullptr;
  uint64_t len = 0;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_pending_response_receive(this->raw(), &raw, &payload, &len, e);
  });
  if (!status) return Err(status.error());
  if (raw == nullptr) return std::optional<Response>();
  return std::optional<Response>(std::in_place, raw,
                                 std::span<const uint8_t>(payload, static_cast<size_t>(len)));
}

IpcResult<std::optional<ActiveRequest>> Server::receive() const {
  ddb_ipc_active_request* raw = nullptr;
  const uint8_t* payload = nullptr;
  uint64_t len = 0;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_server_receive(this->raw(), &raw, &payload, &len, e);
  });
  if (!status) return Err(status.error());
  if (raw == nullptr) return std::optional<ActiveRequest>();
  return std::optional<ActiveRequest>(std::in_place, raw,
                                      std::span<const uint8_t>(payload, static_cast<size_t>(len)));
}

IpcResult<ResponseMutUninit> ActiveRequest::loan_slice_uninit(uint64_t len) const {
  ddb_ipc_response_mut_uninit* raw = nullptr;
  uint8_t* payload = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_active_request_loan_slice_uninit(this->raw(), len, &raw, &payload, e);
  });
  if (!status) return Err(status.error());
  return ResponseMutUninit(raw, {payload, static_cast<size_t>(len)});
}

IpcResult<Unit> send(ResponseMutUninit&& response) {
  return ipc_call([&](ddb_ipc_error* e) { return ddb_ipc_response_mut_send(response.take(), e); });
}

}  // namespace data_daemon_ipc
