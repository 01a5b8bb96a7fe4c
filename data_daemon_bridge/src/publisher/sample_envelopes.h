// The envelopes the data publisher thread builds from samples: one Data per JSON sample, one
// BatchedData per joint frame.
#pragma once

#include "data_daemon_shared/envelope.h"
#include "publisher/publisher_item.h"

namespace data_daemon_bridge {

// The sample's fields by name; the payload moves over unchanged.
data_daemon_shared::Data json_sample_envelope(JsonSample&& sample);

// One BatchedSample a (name, value) pair: `names` is split at every NUL, empty parts kept, and
// walked together with `values` until either runs out. Each payload is the joint-sample JSON of
// the frame's seconds timestamp (timestamp_s, else timestamp_ns / 1e9) and the value. A pair
// whose JSON cannot be rendered is left out with a WARN event.
data_daemon_shared::BatchedData joint_frame_envelope(JointFrame&& frame);

}  // namespace data_daemon_bridge
