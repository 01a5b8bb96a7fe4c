#include "publisher/publish.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "publisher/ipc_handles_cell.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;
using data_daemon_shared::Unit;
using Clock = std::chrono::steady_clock;

namespace {

// Owner: the process. Every publishing thread only adds to them; full_buffer_wait_counts reads.
std::atomic<uint64_t> retries_after_full_buffer{0};
std::atomic<uint64_t> cleanups_run{0};

}  // namespace

PublishResult publish_envelope(const data_daemon_shared::Envelope& envelope,
                               std::chrono::nanoseconds subscriber_wait) {
  auto bytes = data_daemon_shared::encode_envelope(envelope);
  if (!bytes) return Err(PublisherError{PublisherError::Codec{bytes.error()}});
  if (bytes.value().size() > MAX_ENVELOPE_BYTES) {
    return Err(
        PublisherError{PublisherError::PayloadTooLarge{bytes.value().size(), MAX_ENVELOPE_BYTES}});
  }
  return publish_command_bytes(bytes.value(), subscriber_wait);
}

PublishResult publish_command_bytes(std::span<const uint8_t> bytes,
                                    std::chrono::nanoseconds subscriber_wait) {
  const auto deadline = Clock::now() + subscriber_wait;
  for (;;) {
    auto borrow = borrow_ipc_handles();
    if (borrow) {
      IpcHandles& handles = borrow.value().handles();
      const auto left = std::max<std::chrono::nanoseconds>(deadline - Clock::now(), {});
      auto sent = publish_with_deadline(handles.commands_publisher, handles.commands_service, bytes,
                                        left, COMMAND_RETRY_INTERVAL);
      if (sent) {
        handles.last_delivery = Clock::now();
        return sent;
      }
      if (means_no_daemon(sent.error())) {
        return Err(no_subscriber_error(COMMAND_SUBSCRIBER_TIMEOUT));
      }
      return sent;
    }
    if (!means_no_daemon(borrow.error())) return Err(borrow.error());
    if (Clock::now() >= deadline) return Err(no_subscriber_error(COMMAND_SUBSCRIBER_TIMEOUT));
    std::this_thread::sleep_for(COMMAND_RETRY_INTERVAL);
  }
}

PublishResult publish_with_deadline(const data_daemon_ipc::Publisher& publisher,
                                    const data_daemon_ipc::PortFactoryPublishSubscribe& service,
                                    std::span<const uint8_t> bytes,
                                    std::chrono::nanoseconds timeout,
                                    std::chrono::nanoseconds retry_interval) {
  auto deadline = Clock::now() + timeout;
  std::chrono::nanoseconds backoff =
      std::min<std::chrono::nanoseconds>(kFullBufferFirstBackoff, retry_interval);
  std::optional<Clock::time_point> next_cleanup;  // set by the first refusal for a full buffer
  for (;;) {
    auto sample = publisher.loan_slice_uninit(bytes.size());
    if (!sample) return Err(PublisherError{PublisherError::Loan{sample.error().text}});
    std::copy(bytes.begin(), bytes.end(), sample.value().payload_mut().begin());
    auto reached = data_daemon_ipc::send(std::move(sample).value());
    if (!reached) return Err(PublisherError{PublisherError::Send{reached.error().text}});
    if (reached.value() > 0) return Unit{};
    if (service.number_of_subscribers() > 0) {
      const auto now = Clock::now();
      if (!next_cleanup) {
        next_cleanup = now + retry_interval;
      } else if (now >= *next_cleanup) {
        data_daemon_ipc::cleanup_dead_nodes();
        cleanups_run.fetch_add(1, std::memory_order_relaxed);
        next_cleanup = now + retry_interval;
      }
      retries_after_full_buffer.fetch_add(1, std::memory_order_relaxed);
      std::this_thread::sleep_for(backoff);
      backoff = std::min<std::chrono::nanoseconds>(backoff * 2, retry_interval);
      deadline = Clock::now() + timeout;
      continue;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(retry_interval);
  }
  return Err(no_subscriber_error(timeout));
}

PublisherError no_subscriber_error(std::chrono::nanoseconds timeout) {
  const auto whole_seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
  return PublisherError{PublisherError::Send{
      "no data-daemon command subscriber connected within " + std::to_string(whole_seconds) + "s",
      /*no_subscriber=*/true}};
}

FullBufferWaitCounts full_buffer_wait_counts() {
  return {retries_after_full_buffer.load(std::memory_order_relaxed),
          cleanups_run.load(std::memory_order_relaxed)};
}

}  // namespace data_daemon_bridge
