// The three questions the module asks the daemon, each on its own request-response service, with
// the calling thread's query clients: its version, whether it is ready, and the cloud id of a
// recording.
//
// Each query repeats single attempts until an accepted answer, an error or its deadline. An
// attempt sends one request and polls for its response within a short reply window; a response
// that arrives after its attempt ended is never read. The first attempt is always made, whatever
// the time-out, and a query may overrun its time-out by one retry sleep and one reply window.
// Errors are returned at once and never retried; only an attempt without an accepted reply leads
// to another.
//
// Any thread; blocks it by sleeping. No lock is shared with other threads: each thread uses its
// own IpcHandles, built by its first query or command publish.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "data_daemon_shared/result.h"
#include "publisher/ipc_handles.h"
#include "publisher/publisher_error.h"

namespace data_daemon_bridge {

inline constexpr std::chrono::milliseconds QUERY_REPLY_WINDOW{20};
inline constexpr std::chrono::milliseconds RECORDING_ID_REPLY_WINDOW{40};
inline constexpr std::chrono::milliseconds REPLY_POLL_INTERVAL{2};
inline constexpr std::chrono::milliseconds QUERY_RETRY_INTERVAL{25};
inline constexpr std::chrono::milliseconds RECORDING_ID_RETRY_INTERVAL{50};

template <class T>
using QueryResult = data_daemon_shared::Result<std::optional<T>, PublisherError>;

// The monotonic clock the queries read their deadlines and windows from, and the sleep between
// their polls and attempts. Tests put in a simulated clock that sleeps by advancing itself.
struct QueryPacer {
  std::chrono::steady_clock::time_point (*now)();
  void (*sleep_for)(std::chrono::nanoseconds duration);
};

// The steady clock and a real sleep of the calling thread.
inline constexpr QueryPacer kRealQueryPacer{
    [] { return std::chrono::steady_clock::now(); },
    [](std::chrono::nanoseconds duration) { std::this_thread::sleep_for(duration); },
};

// The daemon's version text; absent when no reply echoing this query's request id came in time.
QueryResult<std::string> query_daemon_version(double timeout_s,
                                              const QueryPacer& pacer = kRealQueryPacer);

// The daemon's non-zero ready value; absent when no such reply echoing this query's request id
// came in time (a ready value of 0 counts as no reply).
QueryResult<uint32_t> query_health(double timeout_s, const QueryPacer& pacer = kRealQueryPacer);

// The recording's cloud id (possibly empty); absent when none came in time. `request` is an
// encoded RecordingIdRequest. A reply without an id counts as no reply.
QueryResult<std::string> query_recording_id(std::span<const uint8_t> request, double timeout_s,
                                            const QueryPacer& pacer = kRealQueryPacer);

// Single attempts on the calling thread's IpcHandles, built first if the thread has none. Absent
// means no accepted reply within the attempt's window, or a build that found the services in
// transition (no daemon holds them; the next attempt builds again).
QueryResult<std::string> try_version_query(std::span<const uint8_t> request, uint64_t request_id,
                                           const QueryPacer& pacer = kRealQueryPacer);
QueryResult<uint32_t> try_health_query(std::span<const uint8_t> request, uint64_t request_id,
                                       const QueryPacer& pacer = kRealQueryPacer);
QueryResult<std::string> try_recording_id_query(std::span<const uint8_t> request,
                                                const QueryPacer& pacer = kRealQueryPacer);
// One recording-id attempt on the given set's recording_ids client; the reply as decoded.
QueryResult<std::string> send_recording_id_request(IpcHandles& handles,
                                                   std::span<const uint8_t> request,
                                                   const QueryPacer& pacer = kRealQueryPacer);

}  // namespace data_daemon_bridge
