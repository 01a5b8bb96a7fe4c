#include "query/daemon_queries.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "clock/publish_clock.h"
#include "data_daemon_shared/query.h"
#include "events/events.h"
#include "publisher/ipc_handles_cell.h"
#include "query/query_timeout.h"

namespace data_daemon_bridge {

namespace {

using data_daemon_shared::Err;
using Clock = std::chrono::steady_clock;

PublisherError codec(data_daemon_shared::CodecError error) {
  return PublisherError{PublisherError::Codec{error}};
}

// One attempt on `client`: loan, copy, send, then poll the pending response every
// REPLY_POLL_INTERVAL until `window` has passed. The first response ends the attempt: `accept`
// turns its bytes into an answer, no reply (absent) or an error. A receive failure counts as no
// reply, with a DEBUG event.
template <class T, class Accept>
QueryResult<T> attempt(const data_daemon_ipc::Client& client, std::span<const uint8_t> request,
                       std::chrono::milliseconds window, const QueryPacer& pacer,
                       std::string_view receive_failed, Accept accept) {
  auto loaned = client.loan_slice_uninit(request.size());
  if (!loaned) return Err(PublisherError{PublisherError::Loan{loaned.error().text}});
  std::copy(request.begin(), request.end(), loaned.value().payload_mut().begin());
  auto pending = data_daemon_ipc::send(std::move(loaned).value());
  if (!pending) return Err(PublisherError{PublisherError::Send{pending.error().text}});

  const auto window_end = pacer.now() + window;
  for (;;) {
    auto received = pending.value().receive();
    if (!received) {
      emit_event(EventLevel::Debug, kQueryLogTarget, receive_failed,
                 {{"error", received.error().text}});
      return std::optional<T>();
    }
    if (received.value()) return accept(received.value()->payload());
    if (pacer.now() >= window_end) return std::optional<T>();
    pacer.sleep_for(REPLY_POLL_INTERVAL);
  }
  // The response and the pending response are released on the way out.
}

// Repeats `try_once` until an answer or an error, or until the deadline has passed after an
// attempt without one; sleeps `retry_interval` between attempts. The first attempt is always
// made, and so is the one after a sleep that crossed the deadline.
template <class T, class TryOnce>
QueryResult<T> poll_until(Clock::time_point deadline, std::chrono::milliseconds retry_interval,
                          const QueryPacer& pacer, TryOnce try_once) {
  for (;;) {
    QueryResult<T> result = try_once();
    if (!result || result.value()) return result;
    if (pacer.now() >= deadline) return std::optional<T>();
    pacer.sleep_for(retry_interval);
  }
}

// `attempt` on the calling thread's IpcHandles, building them first if the thread has none. A
// build that found the services in transition is no daemon: no reply, and the next attempt
// builds again.
template <class T, class Attempt>
QueryResult<T> on_thread_handles(Attempt attempt) {
  auto borrow = borrow_ipc_handles();
  if (!borrow) {
    if (means_no_daemon(borrow.error())) return std::optional<T>();
    return Err(borrow.error());
  }
  return attempt(borrow.value().handles());
}

template <class T, class TryOnce>
QueryResult<T> run_request_id_query(double timeout_s, const QueryPacer& pacer, TryOnce try_once) {
  const auto request_id = static_cast<uint64_t>(publish_clock_ns());
  auto request = data_daemon_shared::encode_request_id(request_id);
  if (!request) return Err(codec(request.error()));
  const auto deadline = pacer.now() + duration_from_timeout_s(timeout_s);
  return poll_until<T>(deadline, QUERY_RETRY_INTERVAL, pacer,
                       [&] { return try_once(request.value(), request_id, pacer); });
}

}  // namespace

QueryResult<std::string> query_daemon_version(double timeout_s, const QueryPacer& pacer) {
  return run_request_id_query<std::string>(timeout_s, pacer, try_version_query);
}

QueryResult<uint32_t> query_health(double timeout_s, const QueryPacer& pacer) {
  return run_request_id_query<uint32_t>(timeout_s, pacer, try_health_query);
}

QueryResult<std::string> query_recording_id(std::span<const uint8_t> request, double timeout_s,
                                            const QueryPacer& pacer) {
  const auto deadline = pacer.now() + duration_from_timeout_s(timeout_s);
  return poll_until<std::string>(deadline, RECORDING_ID_RETRY_INTERVAL, pacer,
                                 [&] { return try_recording_id_query(request, pacer); });
}

QueryResult<std::string> try_version_query(std::span<const uint8_t> request, uint64_t request_id,
                                           const QueryPacer& pacer) {
  return on_thread_handles<std::string>([&](IpcHandles& handles) {
    return attempt<std::string>(
        handles.version_client, request, QUERY_REPLY_WINDOW, pacer,
        "version receive failed; treating as no reply",
        [request_id](std::span<const uint8_t> bytes) -> QueryResult<std::string> {
          auto reply = data_daemon_shared::decode_version_reply(bytes);
          if (!reply) return Err(codec(reply.error()));
          if (reply.value().request_id != request_id) return std::optional<std::string>();
          return std::optional<std::string>(std::move(reply.value().version));
        });
  });
}

QueryResult<uint32_t> try_health_query(std::span<const uint8_t> request, uint64_t request_id,
                                       const QueryPacer& pacer) {
  return on_thread_handles<uint32_t>([&](IpcHandles& handles) {
    return attempt<uint32_t>(
        handles.health_client, request, QUERY_REPLY_WINDOW, pacer,
        "health receive failed; treating as no reply",
        [request_id](std::span<const uint8_t> bytes) -> QueryResult<uint32_t> {
          auto reply = data_daemon_shared::decode_health_reply(bytes);
          if (!reply) return Err(codec(reply.error()));
          if (reply.value().ready_value == 0 || reply.value().request_id != request_id) {
            return std::optional<uint32_t>();
          }
          return std::optional<uint32_t>(reply.value().ready_value);
        });
  });
}

QueryResult<std::string> try_recording_id_query(std::span<const uint8_t> request,
                                                const QueryPacer& pacer) {
  return on_thread_handles<std::string>(
      [&](IpcHandles& handles) { return send_recording_id_request(handles, request, pacer); });
}

QueryResult<std::string> send_recording_id_request(IpcHandles& handles,
                                                   std::span<const uint8_t> request,
                                                   const QueryPacer& pacer) {
  return attempt<std::string>(handles.recording_ids_client, request, RECORDING_ID_REPLY_WINDOW,
                              pacer, "recording-id receive failed; treating as no reply",
                              [](std::span<const uint8_t> bytes) -> QueryResult<std::string> {
                                auto reply = data_daemon_shared::decode_recording_id_reply(bytes);
                                if (!reply) return Err(codec(reply.error()));
                                return std::move(reply).value();
                              });
}

}  // namespace data_daemon_bridge
