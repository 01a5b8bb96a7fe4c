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

// How long an open of a service is tried again while another participant creates or removes
// it (a thread or process that ends releases the services it alone held), and the pause between
// two tries. A creation or removal is a few file and shared-memory operations; a service still
// in transition after this is taken as no daemon, whose services nobody holds.
inline constexpr std::chrono::milliseconds kServiceTransitionWait{200};
inline constexpr std::chrono::milliseconds kServiceTransitionPause{2};

// The first pause after a send refused by a full subscriber buffer; it doubles with each refusal
// in a row, up to the retry interval. Short, so that a daemon that is only behind gets the next
// envelope soon after it made room: at 64 envelopes a buffer, a fixed 10 ms pause would cap
// delivery near 6,400 a second whatever the daemon could take.
inline constexpr std::chrono::microseconds kFullBufferFirstBackoff{20};

}  // namespace data_daemon_bridge
