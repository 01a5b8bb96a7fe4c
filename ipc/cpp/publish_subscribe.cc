#include "data_daemon_ipc/publish_subscribe.h"

namespace data_daemon_ipc {

IpcResult<PortFactoryPublishSubscribe> PortFactoryPublishSubscribe::open_or_create(
    const Node& node, const ServiceName& name, const PublishSubscribeSettings& settings) {
  const ddb_ipc_publish_subscribe_settings c_settings{
      settings.enable_safe_overflow,
      settings.subscriber_max_buffer_size,
      settings.max_publishers,
      settings.max_subscribers,
      settings.max_nodes,
  };
  ddb_ipc_port_factory_publish_subscribe* raw = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_publish_subscribe_open_or_create(node.raw(), name.raw(), &c_settings, &raw, e);
  });
  if (!status) return Err(status.error());
  return PortFactoryPublishSubscribe(raw);
}

IpcResult<Publisher> PortFactoryPublishSubscribe::publisher(
    uint64_t initial_max_slice_len, UnableToDeliverStrategy strategy) const {
  ddb_ipc_publisher* raw = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_publisher_create(this->raw(), initial_max_slice_len,
                                    static_cast<int32_t>(strategy), &raw, e);
  });
  if (!status) return Err(status.error());
  return Publisher(raw);
}

uint64_t PortFactoryPublishSubscribe::number_of_subscribers() const {
  return ddb_ipc_port_factory_publish_subscribe_number_of_subscribers(raw());
}

IpcResult<Subscriber> PortFactoryPublishSubscribe::subscriber() const {
  ddb_ipc_subscriber* raw = nullptr;
  auto status =
      ipc_call([&](ddb_ipc_error* e) { return ddb_ipc_subscriber_create(this->raw(), &raw, e); });
  if (!status) return Err(status.error());
  return Subscriber(raw);
}

IpcResult<SampleMutUninit> Publisher::loan_slice_uninit(uint64_t len) const {
  ddb_ipc_sample_mut_uninit* raw = nullptr;
  uint8_t* payload = nullptr;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_publisher_loan_slice_uninit(this->raw(), len, &raw, &payload, e);
  });
  if (!status) return Err(status.error());
  return SampleMutUninit(raw, {payload, static_cast<size_t>(len)});
}

IpcResult<uint64_t> send(SampleMutUninit&& sample) {
  uint64_t reached = 0;
  auto status = ipc_call(
      [&](ddb_ipc_error* e) { return ddb_ipc_sample_mut_send(sample.take(), &reached, e); });
  if (!status) return Err(status.error());
  return reached;
}

IpcResult<std::optional<Sample>> Subscriber::receive() const {
  ddb_ipc_sample* raw = nullptr;
  const uint8_t* payload = nullptr;
  uint64_t len = 0;
  auto status = ipc_call([&](ddb_ipc_error* e) {
    return ddb_ipc_subscriber_receive(this->raw(), &raw, &payload, &len, e);
  });
  if (!status) return Err(status.error());
  if (raw == nullptr) return std::optional<Sample>();
  return std::optional<Sample>(std::in_place, raw,
                               std::span<const uint8_t>(payload, static_cast<size_t>(len)));
}

}  // namespace data_daemon_ipc
