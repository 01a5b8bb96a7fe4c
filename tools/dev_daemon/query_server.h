// The three query services, answered with fixed values.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

#include "data_daemon_ipc/request_response.h"
#include "dev_daemon/options.h"

namespace dev_daemon {

// One server on one query service. Owned and polled by the daemon's only thread.
class QueryServer {
 public:
  enum class Query { Health, Version, RecordingId };

  QueryServer(Query query, data_daemon_ipc::PortFactoryRequestResponse service,
              data_daemon_ipc::Server server, const Options& options);

  // Takes every waiting request and sends every answer that is due. Problems go to stderr.
  void poll();

 private:
  struct Pending {
    std::chrono::steady_clock::time_point due;
    data_daemon_ipc::ActiveRequest request;
    std::vector<uint8_t> reply;
  };

  std::string name() const;
  // Empty when the request does not decode.
  std::vector<uint8_t> answer(std::span<const uint8_t> request) const;

  Query query_;
  const Options& options_;
  data_daemon_ipc::PortFactoryRequestResponse service_;
  data_daemon_ipc::Server server_;
  std::deque<Pending> pending_;  // in arrival order, hence in due order
};

std::string_view query_service_name(QueryServer::Query query);

}  // namespace dev_daemon
