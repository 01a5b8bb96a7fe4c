#include "dev_daemon/query_server.h"

#include <algorithm>
#include <cstdio>

#include "data_daemon_shared/postcard.h"
#include "publisher/ipc_handles.h"

namespace dev_daemon {

using namespace data_daemon_shared::postcard;

std::string_view query_service_name(QueryServer::Query query) {
  switch (query) {
    case QueryServer::Query::Health: return data_daemon_bridge::kHealthService;
    case QueryServer::Query::Version: return data_daemon_bridge::kVersionService;
    case QueryServer::Query::RecordingId: return data_daemon_bridge::kRecordingIdsService;
  }
  return "";
}

QueryServer::QueryServer(Query query, data_daemon_ipc::PortFactoryRequestResponse service,
                         data_daemon_ipc::Server server, const Options& options)
    : query_(query), options_(options), service_(std::move(service)), server_(std::move(server)) {}

std::vector<uint8_t> QueryServer::answer(std::span<const uint8_t> request) const {
  Bytes reply;
  if (query_ == Query::RecordingId) {
    // Any request gets the configured id; the request only has to decode.
    Reader reader(request);
    if (!reader.text() || !reader.i64() || !reader.i64()) return {};
    put_optional_text(reply, options_.recording_id);
    return reply;
  }
  Reader reader(request);
  auto request_id = reader.u64();
  if (!request_id) return {};
  if (query_ == Query::Health) {
    put_varint(reply, options_.ready_value);
    put_varint(reply, request_id.value());
  } else {
    put_varint(reply, request_id.value());
    put_text(reply, options_.version);
  }
  return reply;
}

std::string QueryServer::name() const { return std::string(query_service_name(query_)); }

void QueryServer::poll() {
  const auto now = std::chrono::steady_clock::now();
  for (;;) {
    auto received = server_.receive();
    if (!received) {
      std::fprintf(stderr, "dev_daemon: %s: receive failed: %s\n", name().c_str(),
                   received.error().text.c_str());
      break;
    }
    if (!received.value()) break;
    auto reply = answer(received.value()->payload());
    if (reply.empty()) {
      std::fprintf(stderr, "dev_daemon: %s: a request that does not decode, left unanswered\n",
                   name().c_str());
      continue;
    }
    pending_.push_back(
        Pending{now + options_.reply_delay, std::move(*received.value()), std::move(reply)});
  }
  while (!pending_.empty() && pending_.front().due <= now) {
    Pending& next = pending_.front();
    auto response = next.request.loan_slice_uninit(next.reply.size());
    if (response) {
      std::copy(next.reply.begin(), next.reply.end(), response.value().payload_mut().begin());
      auto sent = data_daemon_ipc::send(std::move(response).value());
      if (!sent) {
        std::fprintf(stderr, "dev_daemon: %s: response send failed: %s\n", name().c_str(),
                     sent.error().text.c_str());
      }
    } else {
      std::fprintf(stderr, "dev_daemon: %s: response loan failed: %s\n", name().c_str(),
                   response.error().text.c_str());
    }
    pending_.pop_front();
  }
}

}  // namespace dev_daemon
