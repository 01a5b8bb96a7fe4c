#include "lib/functions_samples.h"

// log_joints, log_json and stop_recording: samples queued for the data publisher thread, and the
// drain that puts a recording's tail on the wire before its stop.
#include "lib/arguments.h"
#include "lib/bodies.h"
#include "lib/boundary.h"

namespace data_daemon_bridge {

namespace {

constexpr const char* kJointsParams[] = {"robot_id", "robot_instance", "data_type",  "names",
                                         "values",   "timestamp_ns",   "timestamp_s"};
constexpr Signature kJoints{"log_joints", kJointsParams, 6};

constexpr const char* kJsonParams[] = {"robot_id", "robot_instance", "data_type",  "name",
                                       "payload",  "timestamp_ns",   "timestamp_s"};
constexpr Signature kJson{"log_json", kJsonParams, 6};

constexpr const char* kStopParams[] = {"robot_id", "robot_instance", "timestamp_ns"};
constexpr Signature kStop{"stop_recording", kStopParams, 2};

}  // namespace

PyObject* log_joints(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BoundArgs bound;
  JointFrame call;
  if (!bound.bind(kJoints, args, nargs, kwnames) || !bound.text(0, call.robot_id) ||
      !bound.i64(1, call.robot_instance) || !bound.text(2, call.data_type) ||
      !bound.text(3, call.names) || !bound.float_list(4, call.values) ||
      !bound.i64(5, call.timestamp_ns) || !bound.optional_f64(6, call.timestamp_s)) {
    return nullptr;
  }
  if (call.robot_id.empty() || call.data_type.empty()) {
    return raise(value_error("robot_id and data_type must not be empty"));
  }
  // Nothing to send: no clock read, no publisher thread started.
  if (call.values.empty()) Py_RETURN_NONE;
  without_gil([&] { log_joints_nogil(std::move(call)); });
  Py_RETURN_NONE;
}

PyObject* log_json(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BoundArgs bound;
  JsonSample call;
  if (!bound.bind(kJson, args, nargs, kwnames) || !bound.text(0, call.robot_id) ||
      !bound.i64(1, call.robot_instance) || !bound.text(2, call.data_type) ||
      !bound.text(3, call.name) || !bound.bytes(4, call.payload) ||
      !bound.i64(5, call.timestamp_ns) || !bound.optional_f64(6, call.timestamp_s)) {
    return nullptr;
  }
  if (call.robot_id.empty() || call.data_type.empty() || call.name.empty()) {
    return raise(value_error("robot_id, data_type and name must not be empty"));
  }
  without_gil([&] { log_json_nogil(std::move(call)); });
  Py_RETURN_NONE;
}

PyObject* stop_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  SourceArgs call;
  if (!bind_source_args(kStop, args, nargs, kwnames, call)) return nullptr;
  auto stopped = without_gil([&] {
    return stop_recording_nogil(std::move(call.robot_id), call.robot_instance, call.timestamp_ns);
  });
  if (!stopped) return raise(stopped.error());
  Py_RETURN_NONE;
}

}  // namespace data_daemon_bridge
