#include "lib/functions_recording.h"

// start_recording and refresh_config: one command each, on the calling thread's own publisher.
#include "lib/arguments.h"
#include "lib/bodies.h"
#include "lib/boundary.h"

namespace data_daemon_bridge {

namespace {

constexpr const char* kStartParams[] = {"robot_id",          "robot_instance", "robot_name",
                                        "dataset_id",        "dataset_name",   "timestamp_ns",
                                        "cloud_recording_id"};
constexpr Signature kStart{"start_recording", kStartParams, 2};

}  // namespace

PyObject* start_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BoundArgs bound;
  StartRecordingArgs call;
  if (!bound.bind(kStart, args, nargs, kwnames) || !bound.text(0, call.robot_id) ||
      !bound.i64(1, call.robot_instance) || !bound.optional_text(2, call.robot_name) ||
      !bound.optional_text(3, call.dataset_id) || !bound.optional_text(4, call.dataset_name) ||
      !bound.optional_i64(5, call.timestamp_ns) ||
      !bound.optional_text(6, call.cloud_recording_id)) {
    return nullptr;
  }
  if (call.robot_id.empty()) return raise(value_error("robot_id must not be empty"));
  auto capture = without_gil([&] { return start_recording_nogil(std::move(call)); });
  if (!capture) return raise(capture.error());
  return PyLong_FromLongLong(capture.value());
}

PyObject* refresh_config() {
  auto sent = without_gil([] { return refresh_config_nogil(); });
  if (!sent) return raise(sent.error());
  Py_RETURN_NONE;
}

}  // namespace data_daemon_bridge
