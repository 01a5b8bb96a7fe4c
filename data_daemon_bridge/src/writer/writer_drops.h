// What memory running out costs the video writer: the frame or the chunk at hand, each with a
// WARN event that names its stream's sensor, and the writer goes on.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "concurrency/loop_guard.h"
#include "events/events.h"

namespace data_daemon_bridge {

inline constexpr std::string_view kFrameOutOfMemory = "out of memory; dropping frame";
inline constexpr std::string_view kChunkOutOfMemory = "out of memory; dropping chunk";

// drop_on_out_of_memory for one frame (kFrameOutOfMemory) or one chunk (kChunkOutOfMemory) of
// the sensor's stream: the WARN carries the field sensor_name. sensor_name must stay valid until
// the call returns.
template <class Work>
bool drop_on_out_of_memory(std::string_view message, std::string_view sensor_name, Work&& work) {
  return drop_on_out_of_memory(
      kWriterLogTarget, message,
      [&] {
        return std::vector<EventField>{{"sensor_name", std::string(sensor_name)}};
      },
      std::forward<Work>(work));
}

}  // namespace data_daemon_bridge
