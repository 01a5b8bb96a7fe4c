#include "lib/functions_queries.h"

// get_recording_id, wait_until_ready and daemon_version: one query loop each, on the calling
// thread's own query clients, with the interpreter lock released while it polls.
#include "data_daemon_shared/query.h"
#include "lib/arguments.h"
#include "lib/bodies.h"
#include "lib/boundary.h"

namespace data_daemon_bridge {

namespace {

constexpr const char* kRecordingIdParams[] = {"robot_id", "robot_instance", "timestamp_ns",
                                              "timeout_s"};
constexpr Signature kRecordingId{"get_recording_id", kRecordingIdParams, 4};

constexpr const char* kTimeoutParams[] = {"timeout_s"};
constexpr Signature kReady{"wait_until_ready", kTimeoutParams, 1};
constexpr Signature kVersion{"daemon_version", kTimeoutParams, 1};

PyObject* text_or_none(const std::optional<std::string>& text) {
  if (!text) Py_RETURN_NONE;
  return PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size()));
}

}  // namespace

PyObject* get_recording_id(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BoundArgs bound;
  data_daemon_shared::RecordingIdRequest request;
  double timeout_s = 0;
  if (!bound.bind(kRecordingId, args, nargs, kwnames) || !bound.text(0, request.robot_id) ||
      !bound.i64(1, request.robot_instance) || !bound.i64(2, request.timestamp_ns) ||
      !bound.f64(3, timeout_s)) {
    return nullptr;
  }
  if (request.robot_id.empty()) return raise(value_error("robot_id must not be empty"));
  auto encoded = data_daemon_shared::encode_recording_id_request(request);
  if (!encoded) return raise(publisher_error_to_pyerr({PublisherError::Codec{encoded.error()}}));
  auto id = without_gil([&] { return get_recording_id_nogil(encoded.value(), timeout_s); });
  if (!id) return raise(id.error());
  return text_or_none(id.value());
}

PyObject* wait_until_ready(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  double timeout_s = 0;
  if (!bind_timeout(kReady, args, nargs, kwnames, timeout_s)) return nullptr;
  auto ready = without_gil([&] { return wait_until_ready_nogil(timeout_s); });
  if (!ready) return raise(ready.error());
  if (!ready.value()) Py_RETURN_NONE;
  return PyLong_FromUnsignedLong(*ready.value());
}

PyObject* daemon_version(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  double timeout_s = 0;
  if (!bind_timeout(kVersion, args, nargs, kwnames, timeout_s)) return nullptr;
  auto version = without_gil([&] { return daemon_version_nogil(timeout_s); });
  if (!version) return raise(version.error());
  return text_or_none(version.value());
}

}  // namespace data_daemon_bridge
