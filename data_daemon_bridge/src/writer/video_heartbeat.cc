#include "writer/video_heartbeat.h"

#include <unistd.h>

#include "writer/saturating.h"
#include "writer/stream_key.h"
#include "writer/stream_registry.h"
#include "writer/video_records.h"

namespace data_daemon_bridge {

void announce_video_source(std::string_view robot_id, int64_t robot_instance,
                           int64_t publish_timestamp_ns) {
  std::string key = source_key(robot_id, robot_instance);
  {
    auto registry = lock_stream_registry();
    auto it = registry->last_announced.find(key);
    if (it != registry->last_announced.end()) {
      const int64_t last = it->second;
      if (publish_timestamp_ns >= last &&
          saturating_sub(publish_timestamp_ns, last) < HEARTBEAT_INTERVAL_NS) {
        return;
      }
      it->second = publish_timestamp_ns;
    } else {
      registry->last_announced.emplace(std::move(key), publish_timestamp_ns);
    }
  }
  send_video_record(data_daemon_shared::VideoHeartbeat{
      .robot_id = std::string(robot_id),
      .robot_instance = robot_instance,
      .publish_timestamp_ns = publish_timestamp_ns,
      .producer_pid = static_cast<uint32_t>(getpid()),
  });
}

}  // namespace data_daemon_bridge
