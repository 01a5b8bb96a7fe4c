// Command publishing: an envelope, encoded, size-checked and published on the calling thread's
// own commands publisher, so that one thread's commands reach the daemon in call order.
//
// Any thread may call; each works on its own IPC_HANDLES and takes no lock. A publish blocks its
// thread for up to about its subscriber timeout (COMMAND_SUBSCRIBER_TIMEOUT unless the caller
// gives another) while no subscriber is connected, and longer while a full subscriber buffer
// holds a send back.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "data_daemon_ipc/publish_subscribe.h"
#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"
#include "publisher/limits.h"
#include "publisher/publisher_error.h"

namespace data_daemon_bridge {

using PublishResult = data_daemon_shared::Result<data_daemon_shared::Unit, PublisherError>;

// Encodes the envelope; refuses an encoding longer than MAX_ENVELOPE_BYTES before any handle set
// is touched (PayloadTooLarge); else publish_command_bytes.
PublishResult publish_envelope(
    const data_daemon_shared::Envelope& envelope,
    std::chrono::nanoseconds subscriber_wait = COMMAND_SUBSCRIBER_TIMEOUT);

// publish_with_deadline on the calling thread's commands publisher, with COMMAND_RETRY_INTERVAL,
// building the thread's set first if it has none. subscriber_wait bounds the build and the wait
// for a subscriber together: the whole COMMAND_SUBSCRIBER_TIMEOUT, or what is left of it when
// the caller spent the rest finding no daemon elsewhere (0: one attempt). A build that finds the
// services in transition (means_no_daemon) is no daemon either: it is tried again every
// COMMAND_RETRY_INTERVAL until subscriber_wait has passed. Either way the failure is
// no_subscriber_error(COMMAND_SUBSCRIBER_TIMEOUT). Any other build failure is returned at once.
PublishResult publish_command_bytes(
    std::span<const uint8_t> bytes,
    std::chrono::nanoseconds subscriber_wait = COMMAND_SUBSCRIBER_TIMEOUT);

// Loans a slice of exactly bytes.size(), copies the bytes in and sends. A send that reaches a
// subscriber succeeds however long it took. One that reaches none is not delivered anywhere:
// - while `service` has a subscriber registered, its buffer is full (the daemon is behind, or
//   its process died): wait for room without a deadline, trying again after a pause that starts
//   at kFullBufferFirstBackoff and doubles with each refusal up to `retry_interval`. Once the
//   wait has lasted `retry_interval`, and from then on once every `retry_interval`, dead nodes
//   are cleared away, so that a dead daemon's registration goes and the wait below applies;
//   the deadline restarts once the subscriber is gone;
// - else, while the deadline (now + timeout) has not passed, sleep `retry_interval` and try
//   again with a new loan; else fail with no_subscriber_error(timeout).
// The first attempt is always made. Loan and send failures are returned at once. The command
// link's publishers discard rather than block on a full buffer, so every wait is one of these
// pauses, none inside the IPC library, where a dead daemon's buffer would hold a send for ever.
PublishResult publish_with_deadline(const data_daemon_ipc::Publisher& publisher,
                                    const data_daemon_ipc::PortFactoryPublishSubscribe& service,
                                    std::span<const uint8_t> bytes,
                                    std::chrono::nanoseconds timeout,
                                    std::chrono::nanoseconds retry_interval);

// The Send error of a publish whose sends reached no subscriber within `timeout`, marked
// no_subscriber: "no data-daemon command subscriber connected within {whole seconds}s".
PublisherError no_subscriber_error(std::chrono::nanoseconds timeout);

// What the full-buffer waits of publish_with_deadline did in this process so far, for tests:
// sends refused by a full buffer and tried again, and dead-node cleanups run.
struct FullBufferWaitCounts {
  uint64_t retries = 0;
  uint64_t cleanups = 0;
};
FullBufferWaitCounts full_buffer_wait_counts();

}  // namespace data_daemon_bridge
