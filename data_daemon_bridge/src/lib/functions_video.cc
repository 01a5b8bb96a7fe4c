#include "lib/functions_video.h"

// log_frame, flush_source and cancel_recording: the Python face of the video writer. Every check
// of a frame runs here, with the interpreter lock held, before anything is announced or queued.
#include "clock/publish_clock.h"
#include "lib/arguments.h"
#include "lib/boundary.h"
#include "lib/frame_buffer.h"
#include "lib/frame_checks.h"
#include "lib/module.h"
#include "lib/video_bodies.h"
#include "port/thread_exit.h"

namespace data_daemon_bridge {

namespace {

constexpr const char* kFrameParams[] = {"robot_id",     "robot_instance", "data_type", "name",
                                        "width",        "height",         "dtype",     "payload",
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
  VideoFrame frame;
  FrameMeta& meta = frame.meta;
  std::string dtype;
  // Held only while the pixels are checked and copied. Released before anything is raised:
  // raising allocates, an allocation can run a finalizer's Python code, and a thread that the
  // interpreter ends there at exit would release the view in its unwind, without the lock.
  FrameBuffer payload;
  std::optional<double> timestamp_s;
  bool converted;
  try {
    converted = bound.bind(kFrame, args, nargs, kwnames) && bound.text(0, meta.robot_id) &&
                bound.i64(1, meta.robot_instance) && bound.text(2, meta.data_type) &&
                bound.text(3, meta.name) && bound.u32(4, meta.layout.width) &&
                bound.u32(5, meta.layout.height) && bound.text(6, dtype) &&
                bound.frame_buffer(7, payload) && bound.i64(8, meta.timestamp_ns) &&
                bound.optional_f64(9, timestamp_s);
  } catch (...) {
    // A conversion after the payload's ran Python code (an argument's __index__, say) and the
    // interpreter ended this thread at exit: the unwind runs without the lock. Everything else
    // that leaves here runs with it.
    if (port::handling_thread_exit()) payload.abandon();
    throw;
  }
  if (!converted) {
    payload.release();  // the conversion's exception is set already
    return nullptr;
  }
  std::optional<PythonError> refused;
  auto checked = check_video_frame(meta, dtype, payload.bytes().size(), payload.c_contiguous());
  if (!checked) {
    refused = value_error(std::move(checked.error()));
  } else if (auto failure = recordings_root_failure()) {
    refused = runtime_error(std::move(*failure));
  } else {
    meta.layout.dtype = checked.value();
    frame.payload = PixelBytes(payload.bytes());  // the one pixel copy
  }
  payload.release();
  if (refused) return raise(*refused);
  meta.timestamp_s = timestamp_s ? *timestamp_s : static_cast<double>(meta.timestamp_ns) / 1e9;
  meta.publish_timestamp_ns = publish_clock_ns();

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
    return cancel_recording_nogil(std::move(call.robot_id), call.timestamp_ns, call.robot_instance);
  });
  if (!cancelled) return raise(cancelled.error());
  Py_RETURN_NONE;
}

}  // namespace data_daemon_bridge
