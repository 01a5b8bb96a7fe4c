#include "lib/video_bodies.h"

#include "clock/publish_clock.h"
#include "concurrency/channel.h"
#include "lib/bodies.h"
#include "publisher/data_publisher.h"
#include "writer/recordings_root.h"
#include "writer/video_heartbeat.h"
#include "writer/writer_queue.h"
#include "writer/writer_start.h"

namespace data_daemon_bridge {

using data_daemon_shared::Unit;

namespace {

// Queues the barrier behind every job already queued and waits for the writer's answer. The wait
// also ends, unanswered, when the barrier is dropped (no writer thread could be started).
template <class Barrier>
void run_writer_barrier(std::string robot_id, int64_t robot_instance) {
  auto [reply, answer] = make_channel<Unit>();
  {
    std::shared_ptr<WriterQueue> queue = get_or_spawn_writer();
    (void)enqueue_writer_job(*queue, Barrier{std::move(reply), std::move(robot_id),
                                             robot_instance});  // a barrier never waits
  }
  (void)answer.receive();
}

}  // namespace

data_daemon_shared::Result<FrameOutcome, PythonError> log_frame_nogil(VideoFrame frame) {
  const FrameMeta& meta = frame.meta;
  announce_video_source(meta.robot_id, meta.robot_instance, meta.publish_timestamp_ns);
  std::shared_ptr<WriterQueue> queue = get_or_spawn_writer();
  const bool stalled = enqueue_writer_job(*queue, std::move(frame));
  return stalled ? FrameOutcome::Stalled : FrameOutcome::Queued;
}

data_daemon_shared::Result<Unit, PythonError> flush_source_nogil(std::string robot_id,
                                                                 int64_t robot_instance) {
  run_writer_barrier<FlushSource>(std::move(robot_id), robot_instance);
  (void)drain_data_publisher();
  return Unit{};
}

data_daemon_shared::Result<Unit, PythonError> cancel_recording_nogil(
    std::string robot_id, std::optional<int64_t> timestamp_ns, int64_t robot_instance) {
  const int64_t capture = timestamp_ns ? *timestamp_ns : publish_clock_ns();
  run_writer_barrier<CancelSource>(robot_id, robot_instance);
  return publish_command(data_daemon_shared::CancelRecording{
      .robot_id = std::move(robot_id),
      .robot_instance = robot_instance,
      .timestamp_ns = capture,
  });
}

std::optional<std::string> recordings_root_failure() {
  const RecordingsRoot& root = recordings_root_value();
  if (root.ok()) return std::nullopt;
  return root.error();
}

}  // namespace data_daemon_bridge
