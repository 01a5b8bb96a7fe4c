#include "publisher/ipc_handles.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "publisher/ipc_log.h"
#include "publisher/limits.h"
#include "publisher/publisher_atfork.h"

namespace data_daemon_bridge {

using data_daemon_ipc::Node;
using data_daemon_ipc::PortFactoryPublishSubscribe;
using data_daemon_ipc::PortFactoryRequestResponse;
using data_daemon_ipc::Publisher;
using data_daemon_ipc::ServiceName;
using data_daemon_ipc::UnableToDeliverStrategy;
using data_daemon_shared::Err;
using data_daemon_shared::Result;

namespace {

// Owner: the calling thread.
thread_local uint64_t IPC_HANDLES_BUILDS = 0;

// Set once the process is exiting; never cleared. Owner: the process.
std::atomic<bool> KEEP_IPC_HANDLES{false};

// `open` (an open_or_create) until it succeeds, fails for another reason than a service in
// transition, or has been tried for kServiceTransitionWait. The failure is a ServiceOpen, marked
// in_transition when the service was in transition at the last try.
template <class PortFactory, class Open>
Result<PortFactory, PublisherError> open_service(Open open) {
  const auto give_up = std::chrono::steady_clock::now() + kServiceTransitionWait;
  for (;;) {
    auto opened = open();
    if (opened) return std::move(opened).value();
    const bool in_transition =
        opened.error().kind == data_daemon_ipc::IpcErrorKind::ServiceInTransition;
    if (!in_transition || std::chrono::steady_clock::now() >= give_up) {
      return Err(PublisherError{PublisherError::ServiceOpen{opened.error().text, in_transition}});
    }
    std::this_thread::sleep_for(kServiceTransitionPause);
  }
}

Result<ServiceName, PublisherError> service_name(std::string_view name) {
  auto result = ServiceName::create(name);
  if (!result) {
    return Err(PublisherError{
        PublisherError::ServiceOpen{"invalid service name: " + result.error().text}});
  }
  return std::move(result).value();
}

}  // namespace

IpcHandles::IpcHandles(Node node_, PortFactoryPublishSubscribe service, Publisher publisher,
                       QueryClient recording_ids, QueryClient health, QueryClient version)
    : node(std::move(node_)),
      commands_service(std::move(service)),
      commands_publisher(std::move(publisher)),
      recording_ids_service(std::move(recording_ids.service)),
      recording_ids_client(std::move(recording_ids.client)),
      health_service(std::move(health.service)),
      health_client(std::move(health.client)),
      version_service(std::move(version.service)),
      version_client(std::move(version.client)) {}

IpcHandles::IpcHandles(IpcHandles&& other) noexcept
    : node(std::move(other.node)),
      commands_service(std::move(other.commands_service)),
      commands_publisher(std::move(other.commands_publisher)),
      recording_ids_service(std::move(other.recording_ids_service)),
      recording_ids_client(std::move(other.recording_ids_client)),
      health_service(std::move(other.health_service)),
      health_client(std::move(other.health_client)),
      version_service(std::move(other.version_service)),
      version_client(std::move(other.version_client)),
      last_delivery(std::exchange(other.last_delivery, {})) {}

IpcHandles::~IpcHandles() {
  if (KEEP_IPC_HANDLES.load(std::memory_order_acquire)) {
    std::move(*this).keep_forever();  // the members that follow are released empty
    return;
  }
  wait_out_release_grace();
  // Declaration order, against C++'s default of the reverse. A moved-from set holds nothing.
  { auto released = std::move(node); }
  { auto released = std::move(commands_service); }
  { auto released = std::move(commands_publisher); }
  { auto released = std::move(recording_ids_service); }
  { auto released = std::move(recording_ids_client); }
  { auto released = std::move(health_service); }
  { auto released = std::move(health_client); }
  { auto released = std::move(version_service); }
  { auto released = std::move(version_client); }
}

void IpcHandles::wait_out_release_grace() const {
  if (last_delivery != std::chrono::steady_clock::time_point{}) {
    std::this_thread::sleep_until(last_delivery + kReleaseGrace);
  }
}

void IpcHandles::keep_forever() && {
  last_delivery = {};  // nothing of a set kept forever is released, so nothing needs the grace
  std::move(node).keep_forever();
  std::move(commands_service).keep_forever();
  std::move(commands_publisher).keep_forever();
  std::move(recording_ids_service).keep_forever();
  std::move(recording_ids_client).keep_forever();
  std::move(health_service).keep_forever();
  std::move(health_client).keep_forever();
  std::move(version_service).keep_forever();
  std::move(version_client).keep_forever();
}

void keep_ipc_handles_from_now_on() { KEEP_IPC_HANDLES.store(true, std::memory_order_release); }

Result<QueryClient, PublisherError> open_query_client(const Node& node, std::string_view name,
                                                      uint64_t initial_max_slice_len) {
  auto service_name_result = service_name(name);
  if (!service_name_result) return Err(service_name_result.error());
  auto service = open_service<PortFactoryRequestResponse>([&] {
    return PortFactoryRequestResponse::open_or_create(node, service_name_result.value(),
                                                      kQueryServiceSettings);
  });
  if (!service) return Err(service.error());
  auto client = service.value().client(initial_max_slice_len);
  if (!client) {
    return Err(PublisherError{PublisherError::PublisherCreate{client.error().text}});
  }
  return QueryClient{std::move(service).value(), std::move(client).value()};
}

Result<IpcHandles, PublisherError> open_ipc_handles() {
  ++IPC_HANDLES_BUILDS;
  (void)register_publisher_atfork();
  // Before the first iceoryx2 call of this build, so the node's own messages are forwarded too.
  install_ipc_log_forwarding();

  auto node = Node::create();
  if (!node) return Err(PublisherError{PublisherError::NodeCreate{node.error().text}});

  auto commands_name = service_name(kCommandsService);
  if (!commands_name) return Err(commands_name.error());
  auto service = open_service<PortFactoryPublishSubscribe>([&] {
    return PortFactoryPublishSubscribe::open_or_create(node.value(), commands_name.value(),
                                                       kCommandsServiceSettings);
  });
  if (!service) return Err(service.error());

  // A full subscriber buffer is waited out by publish_with_deadline, which can tell a daemon
  // that is behind from one that died; the library's own blocking send would wait on a dead
  // daemon's buffer for ever.
  auto publisher =
      service.value().publisher(MAX_ENVELOPE_BYTES, UnableToDeliverStrategy::DiscardSample);
  if (!publisher) {
    return Err(PublisherError{PublisherError::PublisherCreate{publisher.error().text}});
  }

  auto recording_ids =
      open_query_client(node.value(), kRecordingIdsService, kRecordingIdClientMaxSliceLen);
  if (!recording_ids) return Err(recording_ids.error());
  auto health = open_query_client(node.value(), kHealthService, kHealthClientMaxSliceLen);
  if (!health) return Err(health.error());
  auto version = open_query_client(node.value(), kVersionService, kVersionClientMaxSliceLen);
  if (!version) return Err(version.error());

  return IpcHandles(std::move(node).value(), std::move(service).value(),
                    std::move(publisher).value(), std::move(recording_ids).value(),
                    std::move(health).value(), std::move(version).value());
}

uint64_t ipc_handles_build_count() { return IPC_HANDLES_BUILDS; }

}  // namespace data_daemon_bridge
