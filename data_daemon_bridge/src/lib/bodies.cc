#include "lib/bodies.h"

#include <algorithm>
#include <chrono>

#include "clock/publish_clock.h"
#include "publisher/data_publisher.h"
#include "publisher/publish.h"
#include "query/daemon_queries.h"

namespace data_daemon_bridge {

using data_daemon_shared::Envelope;
using data_daemon_shared::Err;

Result<Unit, PythonError> publish_command(const Envelope& envelope,
                                          std::chrono::nanoseconds subscriber_wait) {
  auto published = publish_envelope(envelope, subscriber_wait);
  if (!published) return Err(publisher_error_to_pyerr(std::move(published.error())));
  return Unit{};
}

Result<int64_t, PythonError> start_recording_nogil(StartRecordingArgs args) {
  const int64_t now = publish_clock_ns();
  const int64_t capture = args.timestamp_ns.value_or(now);
  auto sent = publish_command(data_daemon_shared::StartRecording{
      std::move(args.robot_id), args.robot_instance, std::move(args.robot_name),
      std::move(args.dataset_id), std::move(args.dataset_name), now, capture,
      std::move(args.cloud_recording_id)});
  if (!sent) return Err(std::move(sent.error()));
  return capture;
}

Result<Unit, PythonError> refresh_config_nogil() {
  return publish_command(data_daemon_shared::RefreshConfig{});
}

void log_joints_nogil(JointFrame frame) {
  frame.publish_timestamp_ns = publish_clock_ns();
  // A failed send hands the item back; it is dropped (the spawn failure was logged).
  (void)get_or_spawn_data_publisher().send(PublisherItem{PublisherItem::Joints{std::move(frame)}});
}

void log_json_nogil(JsonSample sample) {
  sample.publish_timestamp_ns = publish_clock_ns();
  (void)get_or_spawn_data_publisher().send(PublisherItem{PublisherItem::Json{std::move(sample)}});
}

Result<Unit, PythonError> stop_recording_nogil(std::string robot_id, int64_t robot_instance,
                                               std::optional<int64_t> timestamp_ns) {
  // The stop waits for a subscriber once, from its start: with no daemon, the drain has spent
  // up to that wait behind the sample the publisher thread was trying to deliver, and the stop
  // has what is left of it (at least one attempt). A reachable daemon's reading is no such wait.
  const auto wait_ends = std::chrono::steady_clock::now() + COMMAND_SUBSCRIBER_TIMEOUT;
  // The recording's samples, queued by any thread before this point, go out before the stop.
  // Unanswered (no publisher thread) or not, the stop is sent.
  (void)drain_data_publisher();
  const int64_t now = publish_clock_ns();
  return publish_command(
      data_daemon_shared::StopRecording{std::move(robot_id), robot_instance, now,
                                        timestamp_ns.value_or(now)},
      std::max<std::chrono::nanoseconds>(wait_ends - std::chrono::steady_clock::now(), {}));
}

namespace {

template <class T>
Result<std::optional<T>, PythonError> query_outcome(QueryResult<T> answer) {
  if (!answer) return Err(publisher_error_to_pyerr(std::move(answer.error())));
  return std::move(answer).value();
}

}  // namespace

Result<std::optional<std::string>, PythonError> get_recording_id_nogil(
    const std::vector<uint8_t>& encoded_request, double timeout_s) {
  return query_outcome(query_recording_id(encoded_request, timeout_s));
}

Result<std::optional<uint32_t>, PythonError> wait_until_ready_nogil(double timeout_s) {
  return query_outcome(query_health(timeout_s));
}

Result<std::optional<std::string>, PythonError> daemon_version_nogil(double timeout_s) {
  return query_outcome(query_daemon_version(timeout_s));
}

}  // namespace data_daemon_bridge
