// The bodies of the module functions: plain C++ on owned values, run on the calling thread with
// the interpreter lock released (the entries in functions_*.cc convert and check the arguments
// first). None of them touches a Python object; a failure comes back as a PythonError that the
// entry raises once it holds the lock again.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"
#include "lib/python_error.h"
#include "publisher/limits.h"
#include "publisher/publisher_item.h"

namespace data_daemon_bridge {

using data_daemon_shared::Result;
using data_daemon_shared::Unit;

struct StartRecordingArgs {
  std::string robot_id;  // non-empty
  int64_t robot_instance = 0;
  std::optional<std::string> robot_name;
  std::optional<std::string> dataset_id;
  std::optional<std::string> dataset_name;
  std::optional<int64_t> timestamp_ns;
  std::optional<std::string> cloud_recording_id;
};

// Publishes StartRecording on the calling thread's commands publisher; returns the capture
// timestamp it sent (timestamp_ns when given, else the publish clock's reading).
Result<int64_t, PythonError> start_recording_nogil(StartRecordingArgs args);

// Publishes one envelope on the calling thread's own commands publisher, waiting up to
// subscriber_wait for a subscriber (publish_envelope); a failure is the RuntimeError carrying
// the daemon link's error text.
Result<Unit, PythonError> publish_command(
    const data_daemon_shared::Envelope& envelope,
    std::chrono::nanoseconds subscriber_wait = COMMAND_SUBSCRIBER_TIMEOUT);

// Publishes RefreshConfig on the calling thread's commands publisher.
Result<Unit, PythonError> refresh_config_nogil();

// Stamps the frame's publish time and queues it for the data publisher thread. Never waits; a
// frame that cannot be queued (no publisher thread could be started) is dropped.
void log_joints_nogil(JointFrame frame);

// As log_joints_nogil, for one JSON sample.
void log_json_nogil(JsonSample sample);

// Drains the data publisher, then publishes StopRecording on the calling thread's commands
// publisher. Blocks without a deadline for the drain; the wait for a subscriber is 5 s from the
// call's start, less what the drain took, with at least one attempt. With no daemon the call so
// returns after about 5 s; with one, after the drain and the send.
Result<Unit, PythonError> stop_recording_nogil(std::string robot_id, int64_t robot_instance,
                                               std::optional<int64_t> timestamp_ns);

// The three daemon queries; nullopt when nothing answered within timeout_s.
Result<std::optional<std::string>, PythonError> get_recording_id_nogil(
    const std::vector<uint8_t>& encoded_request, double timeout_s);
Result<std::optional<uint32_t>, PythonError> wait_until_ready_nogil(double timeout_s);
Result<std::optional<std::string>, PythonError> daemon_version_nogil(double timeout_s);

}  // namespace data_daemon_bridge
