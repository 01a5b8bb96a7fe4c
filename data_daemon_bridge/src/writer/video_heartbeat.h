// The source heartbeat: tells the daemon that a source is logging video, at most once per source
// per HEARTBEAT_INTERVAL_NS of publish clock.
#pragma once

#include <cstdint>
#include <string_view>

namespace data_daemon_bridge {

inline constexpr int64_t HEARTBEAT_INTERVAL_NS = 100'000'000;

// Queues a VideoHeartbeat for the source unless one was queued by this process less than
// HEARTBEAT_INTERVAL_NS before publish_timestamp_ns (a time before the last one, the clock having
// stepped back, also sends). The window runs from the last heartbeat queued, not from the last
// call; all streams of one source share it. Calling thread of log_frame; never waits.
void announce_video_source(std::string_view robot_id, int64_t robot_instance,
                           int64_t publish_timestamp_ns);

}  // namespace data_daemon_bridge
