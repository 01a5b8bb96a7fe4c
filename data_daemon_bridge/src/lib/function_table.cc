#include "lib/function_table.h"

#include "lib/boundary.h"
#include "lib/functions_queries.h"
#include "lib/functions_recording.h"
#include "lib/functions_samples.h"
#include "lib/functions_video.h"

namespace data_daemon_bridge {

namespace {

using FastEntry = PyObject* (*)(PyObject* const*, Py_ssize_t, PyObject*);

// The C calling conventions around the entries, each inside the module boundary. Not noexcept:
// see at_boundary.
template <FastEntry Entry>
PyObject* fastcall(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
  return at_boundary([&] { return Entry(args, nargs, kwnames); });
}

PyObject* noargs_refresh_config(PyObject* /*module*/, PyObject* /*unused*/) {
  return at_boundary([] { return refresh_config(); });
}

template <FastEntry Entry>
PyMethodDef fastcall_def(const char* name, const char* doc) {
  // The interpreter calls through the PyCFunction type and dispatches on the flags.
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall<Entry>)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

constexpr const char kStartRecordingDoc[] =
    "start_recording(robot_id, robot_instance, robot_name=None, dataset_id=None, "
    "dataset_name=None, timestamp_ns=None, cloud_recording_id=None)\n--\n\n"
    "Announce that a recording has started for the source (robot_id, robot_instance).\n\n"
    "Fire-and-forget: the daemon opens a recording window and owns all recording identity. The\n"
    "window's lower bound is stamped with the publish clock (the wall clock now), which the\n"
    "daemon uses for window membership, so a synthetic capture time cannot shift the window or\n"
    "clip data. The capture timestamp (timestamp_ns when given, else the publish time) is what\n"
    "the daemon stores as the recording's start and reports as its start time; it is returned,\n"
    "in nanoseconds, to be used as the recording's marker for get_recording_id.\n\n"
    "Give cloud_recording_id only when the backend already minted the recording's id (a\n"
    "recording started from the web frontend); the daemon then reuses it.\n\n"
    "Waits up to 5 s for the daemon to listen; raises RuntimeError when it does not.";

constexpr const char kLogJointsDoc[] =
    "log_joints(robot_id, robot_instance, data_type, names, values, timestamp_ns, "
    "timestamp_s=None)\n--\n\n"
    "Log one scalar sample for each of several joints captured at the same instant.\n\n"
    "names is the joint names joined by NUL characters and values one flat sequence of floats,\n"
    "so that the call costs one text copy and one float-list extraction however many joints\n"
    "there are; the names are split and paired with the values off the calling thread, and the\n"
    "whole call reaches the daemon as one batch. Returns at once: the sample is queued, never\n"
    "waited for. An empty values sequence sends nothing.";

constexpr const char kLogFrameDoc[] =
    "log_frame(robot_id, robot_instance, data_type, name, width, height, dtype, payload, "
    "timestamp_ns, timestamp_s=None)\n--\n\n"
    "Log one video frame of a camera.\n\n"
    "The frame is appended to the open video chunk of its source and sensor; the daemon is told\n"
    "when a chunk is complete. dtype is the label of the image's element type: \"uint8\" for\n"
    "RGB24 frames (data_type RGB_IMAGES), \"float16\" or \"float32\" for two-dimensional depth\n"
    "frames in metres (data_type DEPTH_IMAGES). payload is a C-contiguous buffer of unsigned\n"
    "bytes holding exactly width * height * bytes-per-pixel bytes; depth frames are passed as\n"
    "their raw bytes. Raises LoggingStalledError when the daemon is not draining its spool.";

constexpr const char kLogJsonDoc[] =
    "log_json(robot_id, robot_instance, data_type, name, payload, timestamp_ns, "
    "timestamp_s=None)\n--\n\n"
    "Log one JSON sample of any data type other than joints and video.\n\n"
    "payload is the already-serialised JSON as bytes and is delivered verbatim; data_type is an\n"
    "opaque label that the daemon classifies. Returns at once: the sample is queued, never\n"
    "waited for.";

constexpr const char kStopRecordingDoc[] =
    "stop_recording(robot_id, robot_instance, timestamp_ns=None)\n--\n\n"
    "Announce that the source's recording has stopped.\n\n"
    "Every joint and JSON sample queued before the call is on the wire first; then the stop is\n"
    "published on this thread's command port, after the recording's start. The window's upper\n"
    "bound is the publish clock at the send; the capture stop time (timestamp_ns when given,\n"
    "else that publish time) is what the daemon stores as the recording's end. Video chunks are\n"
    "not sealed here: call flush_source right after.\n\n"
    "Waits up to 5 s from the call for the daemon to listen, the samples' turn included; raises\n"
    "RuntimeError when it does not (the samples are then dropped).";

constexpr const char kFlushSourceDoc[] =
    "flush_source(robot_id, robot_instance)\n--\n\n"
    "Write out the source's video tail.\n\n"
    "Writes every frame queued before the call, seals and announces the source's open chunks,\n"
    "sends the source's flush marker and waits until all of it is on the wire. Required after\n"
    "stop_recording; blocking and idempotent. With no daemon listening the chunks are written\n"
    "all the same, their announcements are dropped, and it returns within about 5 s.";

constexpr const char kCancelRecordingDoc[] =
    "cancel_recording(robot_id, robot_instance, timestamp_ns=None)\n--\n\n"
    "Cancel the source's recording.\n\n"
    "Drops the source's open video chunks without announcing them, then tells the daemon. The\n"
    "capture timestamp (timestamp_ns when given, else the publish clock) is what the daemon\n"
    "stores as the recording's end.";

constexpr const char kGetRecordingIdDoc[] =
    "get_recording_id(robot_id, robot_instance, timestamp_ns, timeout_s)\n--\n\n"
    "Return the cloud recording id the daemon minted for a recording, or None.\n\n"
    "The recording is named by its source and its capture timestamp_ns, the value\n"
    "start_recording returned. Blocks, with the interpreter lock released, until the id is known\n"
    "or timeout_s seconds have passed; None when no daemon answered or the id is not there yet.\n"
    "Meant for paths that are not time-critical.";

constexpr const char kWaitUntilReadyDoc[] =
    "wait_until_ready(timeout_s)\n--\n\n"
    "Wait until the daemon answers a health probe as ready.\n\n"
    "Returns the daemon's non-zero ready value, or None when it was not ready within timeout_s\n"
    "seconds. The probe has no side effects.";

constexpr const char kDaemonVersionDoc[] =
    "daemon_version(timeout_s)\n--\n\n"
    "Return the version text of the running daemon.\n\n"
    "None when nothing answered within timeout_s seconds, which also marks a daemon older than\n"
    "this query.";

constexpr const char kRefreshConfigDoc[] =
    "refresh_config()\n--\n\n"
    "Ask the running daemon to reload its profile configuration now.\n\n"
    "Sent on this thread's command port, so it reaches the daemon ahead of a later\n"
    "start_recording from the same thread. Raises RuntimeError when it cannot be sent; the\n"
    "daemon also picks up a changed profile on its own.";

PyMethodDef table[] = {
    fastcall_def<start_recording>("start_recording", kStartRecordingDoc),
    fastcall_def<log_joints>("log_joints", kLogJointsDoc),
    fastcall_def<log_frame>("log_frame", kLogFrameDoc),
    fastcall_def<log_json>("log_json", kLogJsonDoc),
    fastcall_def<stop_recording>("stop_recording", kStopRecordingDoc),
    fastcall_def<flush_source>("flush_source", kFlushSourceDoc),
    fastcall_def<cancel_recording>("cancel_recording", kCancelRecordingDoc),
    fastcall_def<get_recording_id>("get_recording_id", kGetRecordingIdDoc),
    fastcall_def<wait_until_ready>("wait_until_ready", kWaitUntilReadyDoc),
    fastcall_def<daemon_version>("daemon_version", kDaemonVersionDoc),
    {"refresh_config", &noargs_refresh_config, METH_NOARGS, kRefreshConfigDoc},
};

}  // namespace

std::span<PyMethodDef> module_functions() { return table; }

}  // namespace data_daemon_bridge
