#include "lib/video_bodies.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;

// TODO(video): announce_video_source, get_or_spawn_writer, enqueue_writer_job (Frame).
data_daemon_shared::Result<FrameOutcome, PythonError> log_frame_nogil(FrameArgs) {
  return Err(not_available_yet());
}

// TODO(video): FlushSource barrier with a reply channel, wait for the reply, then
// drain_data_publisher().
data_daemon_shared::Result<data_daemon_shared::Unit, PythonError> flush_source_nogil(std::string,
                                                                                     int64_t) {
  return Err(not_available_yet());
}

// TODO(video): capture = timestamp_ns or publish_clock_ns() before the barrier; CancelSource
// barrier and wait; then publish_envelope(CancelRecording) with publisher_error_to_pyerr.
data_daemon_shared::Result<data_daemon_shared::Unit, PythonError> cancel_recording_nogil(
    std::string, std::optional<int64_t>, int64_t) {
  return Err(not_available_yet());
}

// TODO(video): the RECORDINGS_ROOT failure text, resolving the root on first use.
std::optional<std::string> recordings_root_failure() { return not_available_yet().text; }

}  // namespace data_daemon_bridge
