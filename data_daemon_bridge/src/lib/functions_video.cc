// log_frame, flush_source and cancel_recording: the Python face of the video writer. Every check
// of a frame runs here, with the interpreter lock held, before anything is announced or queued.
#include "lib/arguments.h"
#include "lib/boundary.h"
#include "lib/frame_buffer.h"
#include "lib/frame_checks.h"
#include "lib/functions.h"
#include "lib/video_bodies.h"
#include "publisher/publish_clock.h"

namespace data_daemon_bridge {

namespace {

constexpr const char* kFrameParams[] = {"robot_id", "robot_instance", "data_type",    "name",
                                        "width",    "height",         "dtype",        "payload",
                                        "timestamp_ns", "timestamp_s"};
constexpr Signature kFrame{"log_frame", kFrameParams, 9};

constexpr const char* kFlushParams[] = {"robot_id", "robot_instance"};
constexpr Signature kFlush{"flush_source", kFlushParams, 2};

constexpr const char* kCancelParams[] = {"robot_id", "robot_instance", "timestamp_ns"};
constexpr Signature kCancel{"cancel_recording", kCancelParams, 2};

constexpr const char* kStalledText =
    "video logging stalled: the data daemon is not draining the spool backlog (frame rejected "
    "after 1s of backpressure)";

}  // namespace

PyObject* log_frame(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BoundArgs bound;
  FrameArgs frame;
  std::string dtype;
  // Declared before the body runs and destroyed after it, with the lock held: the view is
  // released on every path out of this function.
  FrameBuffer payload;
  std::optional<double> timestamp_s;
  if (!bound.bind(kFrame, args, nargs, kwnames) || !bound.text(0, frame.robot_id) ||
      !bound.i64(1, frame.robot_instance) || !bound.text(2, frame.data_type) ||
      !bound.text(3, frame.name) || !bound.u32(4, frame.width) || !bound.u32(5, frame.height) ||
      !bound.text(6, dtype) || !bound.frame_buffer(7, payload) ||
      !bound.i64(8, frame.timestamp_ns) || !bound.optional_f64(9, timestamp_s)) {
    return nullptr;
  }
  auto checked = check_video_frame({frame.robot_id, frame.data_type, frame.name, frame.width,
                                    frame.height, dtype, payload.bytes().size(),
                                    payload.c_contiguous()});
  if (!checked) return raise(value_error(std::move(checked.error())));
  frame.dtype = checked.value();
  if (auto failure = recordings_root_failure()) return raise(runtime_error(std::move(*failure)));
  frame.timestamp_s = timestamp_s ? *timestamp_s : static_cast<double>(frame.timestamp_ns) / 1e9;
  frame.payload = PixelBytes(payload.bytes());  // the one pixel copy
  frame.publish_timestamp_ns = publish_clock_ns();

  auto outcome = without_gil([&] { return log_frame_nogil(std::move(frame)); });
  if (!outcome) return raise(outcome.error());
  if (outcome.value() == FrameOutcome::Stalled) {
    PyErr_SetString(logging_stalled_error(), kStalledText);
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* flush_source(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  SourceArgs call;
  if (!bind_source_args(kFlush, args, nargs, kwnames, call)) return nullptr;
  auto flushed = without_gil(
      [&] { return flush_source_nogil(std::move(call.robot_id), call.robot_instance); });
  if (!flushed) return raise(flushed.error());
  Py_RETURN_NONE;
}

PyObject* cancel_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  SourceArgs call;
  if (!bind_source_args(kCancel, args, nargs, kwnames, call)) return nullptr;
  auto cancelled = without_gil([&] {
    return cancel_recording_nogil(std::move(call.robot_id), call.timestamp_ns,
                                  call.robot_instance);
  });
  if (!cancelled) return raise(cancelled.error());
  Py_RETURN_NONE;
}

}  // namespace data_daemon_bridge
