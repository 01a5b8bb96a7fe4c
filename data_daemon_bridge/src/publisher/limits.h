// The command link's limits.
#pragma once

#include <chrono>
#include <cstdint>

namespace data_daemon_bridge {

// The largest encoded envelope that is published; exactly this many bytes pass. The commands
// publisher can loan no more (Static allocation).
inline constexpr uint64_t MAX_ENVELOPE_BYTES = 1'048'576;

// How long a publish keeps trying while its send reaches no subscriber, and the pause between
// two such attempts.
inline constexpr std::chrono::seconds COMMAND_SUBSCRIBER_TIMEOUT{5};
inline constexpr std::chrono::milliseconds COMMAND_RETRY_INTERVAL{10};

}  // namespace data_daemon_bridge
