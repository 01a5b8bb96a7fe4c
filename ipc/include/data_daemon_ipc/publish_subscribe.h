// Publish-subscribe with a byte-slice payload and no user header.
//
// Publisher, Subscriber and every sample belong to the thread that created them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "data_daemon_ipc/handle.h"
#include "data_daemon_ipc/node.h"

namespace data_daemon_ipc {

struct PublishSubscribeSettings {
  bool enable_safe_overflow = true;
  uint64_t subscriber_max_buffer_size = 2;
  uint64_t max_publishers = 2;
  uint64_t max_subscribers = 8;
  uint64_t max_nodes = 20;
};

enum class UnableToDeliverStrategy : int32_t {
  Block = DDB_IPC_UNABLE_TO_DELIVER_BLOCK,
  DiscardSample = DDB_IPC_UNABLE_TO_DELIVER_DISCARD_SAMPLE,
};

// A loaned sample whose payload the caller fills before send().
class SampleMutUninit : public Handle<ddb_ipc_sample_mut_uninit, &ddb_ipc_sample_mut_drop> {
 public:
  SampleMutUninit(ddb_ipc_sample_mut_uninit* raw, std::span<uint8_t> payload)
      : Handle(raw), payload_(payload) {}
  // Valid while the sample is held.
  std::span<uint8_t> payload_mut() const { return payload_; }

 private:
  std::span<uint8_t> payload_;
};

// REQUIRES: every payload byte was written. Returns how many subscribers the sample reached (0
// when none is connected). With UnableToDeliverStrategy::Block a full subscriber buffer makes it
// wait, without a deadline, until the subscriber takes a sample.
IpcResult<uint64_t> send(SampleMutUninit&& sample);

class Publisher : public Handle<ddb_ipc_publisher, &ddb_ipc_publisher_drop> {
 public:
  using Handle::Handle;
  IpcResult<SampleMutUninit> loan_slice_uninit(uint64_t len) const;
};

class Sample : public Handle<ddb_ipc_sample, &ddb_ipc_sample_drop> {
 public:
  Sample(ddb_ipc_sample* raw, std::span<const uint8_t> payload) : Handle(raw), payload_(payload) {}
  std::span<const uint8_t> payload() const { return payload_; }

 private:
  std::span<const uint8_t> payload_;
};

class Subscriber : public Handle<ddb_ipc_subscriber, &ddb_ipc_subscriber_drop> {
 public:
  using Handle::Handle;
  // Non-blocking: empty when no sample is waiting.
  IpcResult<std::optional<Sample>> receive() const;
};

class PortFactoryPublishSubscribe : public Handle<ddb_ipc_port_factory_publish_subscribe,
                                                  &ddb_ipc_port_factory_publish_subscribe_drop> {
 public:
  using Handle::Handle;
  // The existing service, or one created with these settings (applied in field order).
  static IpcResult<PortFactoryPublishSubscribe> open_or_create(
      const Node& node, const ServiceName& name, const PublishSubscribeSettings& settings);

  // Allocation strategy Static: no loan longer than initial_max_slice_len succeeds.
  IpcResult<Publisher> publisher(uint64_t initial_max_slice_len,
                                 UnableToDeliverStrategy strategy) const;
  IpcResult<Subscriber> subscriber() const;
  // Subscribers registered on the service now, including a dead one until its node is cleaned
  // up (cleanup_dead_nodes).
  uint64_t number_of_subscribers() const;
};

}  // namespace data_daemon_ipc
