// The bodies of log_frame, flush_source and cancel_recording, run with the interpreter lock
// released. They hand frames and source barriers to the video writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"
#include "lib/python_error.h"
#include "writer/writer_job.h"

namespace data_daemon_bridge {

enum class FrameOutcome { Queued, Stalled };

// Announces the source (rate-limited heartbeat), then queues the frame on the writer, waiting up
// to 1 s on the spool budget and without a deadline on the memory cap; Stalled when the writer
// refused it after the spool wait (the entry raises LoggingStalledError).
data_daemon_shared::Result<FrameOutcome, PythonError> log_frame_nogil(VideoFrame frame);

// The flush barrier for the source: waits without a deadline until the writer has written every
// frame queued before it, sealed and announced the source's open chunks and queued SourceFlushed;
// then drains the data publisher, so that all of that has gone out before it returns.
data_daemon_shared::Result<data_daemon_shared::Unit, PythonError> flush_source_nogil(
    std::string robot_id, int64_t robot_instance);

// Fixes the capture time (timestamp_ns, else the publish clock now), waits for the writer's
// cancel barrier (the source's open chunks dropped unannounced, their files kept), then
// publishes CancelRecording on the caller's commands publisher. Does not drain the data
// publisher.
data_daemon_shared::Result<data_daemon_shared::Unit, PythonError> cancel_recording_nogil(
    std::string robot_id, std::optional<int64_t> timestamp_ns, int64_t robot_instance);

// The recordings root's failure text when it has none, checked by log_frame before it copies a
// frame (resolving the root on first use).
std::optional<std::string> recordings_root_failure();

}  // namespace data_daemon_bridge
