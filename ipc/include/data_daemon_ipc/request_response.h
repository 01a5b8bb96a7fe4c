// Request-response with byte-slice requests and responses and no user headers.
//
// Clients, servers and everything loaned or received from them belong to the thread that
// created them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "data_daemon_ipc/handle.h"
#include "data_daemon_ipc/node.h"

namespace data_daemon_ipc {

struct RequestResponseSettings {
  uint64_t max_clients = 8;
  uint64_t max_servers = 2;
  uint64_t max_nodes = 20;
};

class Response : public Handle<ddb_ipc_response, &ddb_ipc_response_drop> {
 public:
  Response(ddb_ipc_response* raw, std::span<const uint8_t> payload)
      : Handle(raw), payload_(payload) {}
  std::span<const uint8_t> payload() const { return payload_; }

 private:
  std::span<const uint8_t> payload_;
};

// A sent request; releasing it closes the request's response channel.
class PendingResponse : public Handle<ddb_ipc_pending_response, &ddb_ipc_pending_response_drop> {
 public:
  using Handle::Handle;
  // Non-blocking: empty when no response is waiting (always, when no server was connected).
  IpcResult<std::optional<Response>> receive() const;
};

class RequestMutUninit : public Handle<ddb_ipc_request_mut_uninit, &ddb_ipc_request_mut_drop> {
 public:
  RequestMutUninit(ddb_ipc_request_mut_uninit* raw, std::span<uint8_t> payload)
      : Handle(raw), payload_(payload) {}
  std::span<uint8_t> payload_mut() const { return payload_; }

 private:
  std::span<uint8_t> payload_;
};

// REQUIRES: every payload byte was written. Succeeds also when no server is connected.
IpcResult<PendingResponse> send(RequestMutUninit&& request);

class Client : public Handle<ddb_ipc_client, &ddb_ipc_client_drop> {
 public:
  using Handle::Handle;
  IpcResult<RequestMutUninit> loan_slice_uninit(uint64_t len) const;
};

class ResponseMutUninit : public Handle<ddb_ipc_response_mut_uninit, &ddb_ipc_response_mut_drop> {
 public:
  ResponseMutUninit(ddb_ipc_response_mut_uninit* raw, std::span<uint8_t> payload)
      : Handle(raw), payload_(payload) {}
  std::span<uint8_t> payload_mut() const { return payload_; }

 private:
  std::span<uint8_t> payload_;
};

// REQUIRES: every payload byte was written.
IpcResult<Unit> send(ResponseMutUninit&& response);

// A received request; releasing it closes its response channel.
class ActiveRequest : public Handle<ddb_ipc_active_request, &ddb_ipc_active_request_drop> {
 public:
  ActiveRequest(ddb_ipc_active_request* raw, std::span<const uint8_t> payload)
      : Handle(raw), payload_(payload) {}
  std::span<const uint8_t> payload() const { return payload_; }
  IpcResult<ResponseMutUninit> loan_slice_uninit(uint64_t len) const;

 private:
  std::span<const uint8_t> payload_;
};

class Server : public Handle<ddb_ipc_server, &ddb_ipc_server_drop> {
 public:
  using Handle::Handle;
  // Non-blocking: empty when no request is waiting.
  IpcResult<std::optional<ActiveRequest>> receive() const;
};

class PortFactoryRequestResponse : public Handle<ddb_ipc_port_factory_request_response,
                                                 &ddb_ipc_port_factory_request_response_drop> {
 public:
  using Handle::Handle;
  // The existing service, or one created with these settings (applied in field order).
  static IpcResult<PortFactoryRequestResponse> open_or_create(
      const Node& node, const ServiceName& name, const RequestResponseSettings& settings);

  // Allocation strategy Static; unable-to-deliver strategy as the library is configured.
  IpcResult<Client> client(uint64_t initial_max_slice_len) const;
  // Allocation strategy Static: initial_max_slice_len bounds every response.
  IpcResult<Server> server(uint64_t initial_max_slice_len) const;
};

}  // namespace data_daemon_ipc
