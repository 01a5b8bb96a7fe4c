// Closing a stream's open chunk file and making its announcement. Writer thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "data_daemon_shared/envelope.h"
#include "writer/stream_state.h"

namespace data_daemon_bridge {

// Finishes the open chunk and returns its announcement; none when no chunk was open or finishing
// the file failed (then its frames are forgotten and the file stays as far as it was written).
// Throws std::bad_alloc when memory runs out while the announcement is made; the chunk is then
// lost the same way. Either way the state is left with no chunk open and no frame listed.
// REQUIRES: the stream's mutex is held.
std::optional<data_daemon_shared::Envelope> seal_chunk(StreamState& state,
                                                       std::string_view robot_id,
                                                       int64_t robot_instance,
                                                       std::string_view data_type,
                                                       std::string_view name);

}  // namespace data_daemon_bridge
