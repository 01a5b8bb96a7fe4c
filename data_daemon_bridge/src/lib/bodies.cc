#include "lib/bodies.h"

#include "publisher/publish.h"
#include "publisher/publish_clock.h"

namespace data_daemon_bridge {

using data_daemon_shared::Envelope;
using data_daemon_shared::Err;

namespace {

// Publishes on the calling thread's own commands publisher.
Result<Unit, PythonError> publish_command(const Envelope& envelope) {
  auto published = publish_envelope(envelope);
  if (!published) return Err(publisher_error_to_pyerr(std::move(published.error())));
  return Unit{};
}

}  // namespace

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

// TODO(samples): queue on the data publisher thread.
void log_joints_nogil(JointsArgs) {}
void log_json_nogil(JsonArgs) {}

Result<Unit, PythonError> stop_recording_nogil(std::string robot_id, int64_t robot_instance,
                                               std::optional<int64_t> timestamp_ns) {
  // TODO(samples): drain the data publisher first.
  const int64_t now = publish_clock_ns();
  return publish_command(data_daemon_shared::StopRecording{
      std::move(robot_id), robot_instance, now, timestamp_ns.value_or(now)});
}

Result<std::optional<std::string>, PythonError> get_recording_id_nogil(const std::vector<uint8_t>&,
                                                                       double) {
  return Err(runtime_error("not available yet"));
}
Result<std::optional<uint32_t>, PythonError> wait_until_ready_nogil(double) {
  return Err(runtime_error("not available yet"));
}
Result<std::optional<std::string>, PythonError> daemon_version_nogil(double) {
  return Err(runtime_error("not available yet"));
}

}  // namespace data_daemon_bridge
