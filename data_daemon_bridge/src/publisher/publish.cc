#include "publisher/publish.h"

#include <algorithm>
#include <string>
#include <thread>

#include "publisher/ipc_handles_cell.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;
using data_daemon_shared::Unit;
using Clock = std::chrono::steady_clock;

PublishResult publish_envelope(const data_daemon_shared::Envelope& envelope) {
  auto bytes = data_daemon_shared::encode_envelope(envelope);
  if (!bytes) return Err(PublisherError{PublisherError::Codec{bytes.error()}});
  if (bytes.value().size() > MAX_ENVELOPE_BYTES) {
    return Err(PublisherError{PublisherError::PayloadTooLarge{bytes.value().size(),
                                                              MAX_ENVELOPE_BYTES}});
  }
  return publish_command_bytes(bytes.value());
}

PublishResult publish_command_bytes(std::span<const uint8_t> bytes) {
  auto borrow = borrow_ipc_handles();
  if (!borrow) return Err(borrow.error());
  IpcHandles& handles = borrow.value().handles();
  auto sent = publish_with_deadline(handles.commands_publisher, bytes, COMMAND_SUBSCRIBER_TIMEOUT,
                                    COMMAND_RETRY_INTERVAL);
  if (sent) handles.last_delivery = Clock::now();
  return sent;
}

PublishResult publish_with_deadline(const data_daemon_ipc::Publisher& publisher,
                                    std::span<const uint8_t> bytes,
                                    std::chrono::nanoseconds timeout,
                                    std::chrono::nanoseconds retry_interval) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    auto sample = publisher.loan_slice_uninit(bytes.size());
    if (!sample) return Err(PublisherError{PublisherError::Loan{sample.error().text}});
    std::copy(bytes.begin(), bytes.end(), sample.value().payload_mut().begin());
    auto reached = data_daemon_ipc::send(std::move(sample).value());
    if (!reached) return Err(PublisherError{PublisherError::Send{reached.error().text}});
    if (reached.value() > 0) return Unit{};
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(retry_interval);
  }
  const auto whole_seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
  return Err(PublisherError{PublisherError::Send{
      "no data-daemon command subscriber connected within " + std::to_string(whole_seconds) +
      "s"}});
}

}  // namespace data_daemon_bridge
