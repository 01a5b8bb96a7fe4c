#include "publisher/sample_envelopes.h"

#include <string_view>
#include <utility>

#include "events/events.h"
#include "publisher/joint_json.h"

namespace data_daemon_bridge {

data_daemon_shared::Data json_sample_envelope(JsonSample&& sample) {
  return data_daemon_shared::Data{
      .robot_id = std::move(sample.robot_id),
      .robot_instance = sample.robot_instance,
      .data_type = std::move(sample.data_type),
      .name = std::move(sample.name),
      .publish_timestamp_ns = sample.publish_timestamp_ns,
      .timestamp_ns = sample.timestamp_ns,
      .timestamp_s = sample.timestamp_s,
      .payload = std::move(sample.payload),
  };
}

data_daemon_shared::BatchedData joint_frame_envelope(JointFrame&& frame) {
  const double t = frame.timestamp_s ? *frame.timestamp_s : double(frame.timestamp_ns) / 1e9;

  std::vector<data_daemon_shared::BatchedSample> samples;
  samples.reserve(frame.values.size());
  const std::string_view names = frame.names;
  size_t start = 0;
  for (double value : frame.values) {
    if (start > names.size()) break;  // the names ran out
    size_t end = names.find('\0', start);
    if (end == std::string_view::npos) end = names.size();
    const std::string_view name = names.substr(start, end - start);
    start = end + 1;

    auto json = render_joint_sample_json(t, value);
    if (!json) {
      emit_event_nothrow(EventLevel::Warn, kPublisherLogTarget,
                         "failed to encode joint frame JSON; dropping item", [&] {
                           return std::vector<EventField>{{"error", json.error()}};
                         });
      continue;
    }
    samples.push_back({std::string(name), std::move(json).value()});
  }

  return data_daemon_shared::BatchedData{
      .robot_id = std::move(frame.robot_id),
      .robot_instance = frame.robot_instance,
      .data_type = std::move(frame.data_type),
      .publish_timestamp_ns = frame.publish_timestamp_ns,
      .timestamp_ns = frame.timestamp_ns,
      .timestamp_s = frame.timestamp_s,
      .samples = std::move(samples),
  };
}

}  // namespace data_daemon_bridge
