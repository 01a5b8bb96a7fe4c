// What producers hand the data publisher thread: joint frames, JSON samples, ready envelopes and
// flush barriers, on one channel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "concurrency/channel.h"
#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_bridge {

// One log_joints call. The publisher thread splits `names` and renders the per-joint JSON, so
// the caller's only work is one text copy and one float-vector conversion.
struct JointFrame {
  std::optional<double> timestamp_s;  // as the caller gave it; absent stays absent
  std::string robot_id;
  std::string data_type;
  std::string names;           // joint names joined by NUL characters, as the caller gave them
  std::vector<double> values;  // one a joint, in the order of `names`
  int64_t robot_instance = 0;
  int64_t timestamp_ns = 0;          // the caller's capture time
  int64_t publish_timestamp_ns = 0;  // the publish clock, read on the calling thread
};

// One log_json call: `payload` is the caller's serialised JSON, never parsed or checked.
struct JsonSample {
  std::optional<double> timestamp_s;
  std::string robot_id;
  std::string data_type;
  std::string name;
  std::vector<uint8_t> payload;
  int64_t robot_instance = 0;
  int64_t timestamp_ns = 0;
  int64_t publish_timestamp_ns = 0;
};

struct PublisherItem {
  struct Joints {
    JointFrame frame;
  };
  struct Json {
    JsonSample sample;
  };
  // A ready envelope, published unchanged (the video pipeline's).
  struct Envelope {
    data_daemon_shared::Envelope envelope;
  };
  // A flush barrier: answered with one unit value once every item queued before it was
  // published or dropped. Released unanswered if the item itself is dropped.
  struct Flush {
    Sender<data_daemon_shared::Unit> reply;
  };

  std::variant<Joints, Json, Envelope, Flush> value;
};

using PublisherSender = Sender<PublisherItem>;
using PublisherReceiver = Receiver<PublisherItem>;

}  // namespace data_daemon_bridge
