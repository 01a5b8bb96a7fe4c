// IpcHandles: one thread's link to the daemon (its iceoryx2 node, the commands publisher and a
// client on each of the three query services), and the functions that build it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "data_daemon_ipc/node.h"
#include "data_daemon_ipc/publish_subscribe.h"
#include "data_daemon_ipc/request_response.h"
#include "data_daemon_shared/result.h"
#include "publisher/publisher_error.h"

namespace data_daemon_bridge {

inline constexpr std::string_view kCommandsService = "quillspan/data_daemon/commands";
inline constexpr std::string_view kRecordingIdsService = "quillspan/data_daemon/recording_ids";
inline constexpr std::string_view kHealthService = "quillspan/data_daemon/health";
inline constexpr std::string_view kVersionService = "quillspan/data_daemon/version";

// The services' settings. Whoever creates a service fixes them; for an existing service they are
// minimums. Settings not named here keep the IPC library's configured values.
inline constexpr data_daemon_ipc::PublishSubscribeSettings kCommandsServiceSettings{
    .enable_safe_overflow = false,
    .subscriber_max_buffer_size = 64,
    .max_publishers = 128,
    .max_subscribers = 1,
    .max_nodes = 512,
};
inline constexpr data_daemon_ipc::RequestResponseSettings kQueryServiceSettings{
    .max_clients = 128,
    .max_servers = 1,
    .max_nodes = 512,
};

inline constexpr uint64_t kRecordingIdClientMaxSliceLen = 4096;
inline constexpr uint64_t kHealthClientMaxSliceLen = 1024;
inline constexpr uint64_t kVersionClientMaxSliceLen = 1024;

struct QueryClient {
  data_daemon_ipc::PortFactoryRequestResponse service;
  data_daemon_ipc::Client client;
};

// One per thread, used only by the thread that built it (the ports are bound to it). Released
// field by field in declaration order.
//
// Costs: the commands publisher maps a data segment of about 69 MiB (68 chunks of
// MAX_ENVELOPE_BYTES: 64 for the subscriber's buffer, 2 it may hold, 2 loans); shared memory is
// touched only as chunks are used, up to the whole segment once large envelopes have cycled
// through every chunk.
//
// iceoryx2 0.8.1 connects a subscriber to a publisher only when the subscriber next looks at the
// service. A publisher released before the daemon has looked once takes every sample it sent
// with it, although each send counted the daemon. So a set that delivered a command within the
// last kReleaseGrace waits out the rest of it before its ports are released: a thread that
// publishes just before it ends loses nothing, and pays at most kReleaseGrace once, at its end.
//
// The process's exit is different: nothing may wait once the interpreter has finalized (a
// daemon thread of the host may still be waking inside the interpreter's lock, on memory the
// finalization freed). So the exiting thread waits out its grace before that
// (prepare_ipc_handles_for_exit), and from then on every set is kept instead of released
// (keep_ipc_handles_from_now_on): a publisher that is never released loses nothing it sent, and
// the daemon, which had the grace to connect while the process was alive, reads it at leisure.
inline constexpr std::chrono::milliseconds kReleaseGrace{500};

struct IpcHandles {
  data_daemon_ipc::Node node;
  data_daemon_ipc::PortFactoryPublishSubscribe commands_service;
  data_daemon_ipc::Publisher commands_publisher;
  data_daemon_ipc::PortFactoryRequestResponse recording_ids_service;
  data_daemon_ipc::Client recording_ids_client;
  data_daemon_ipc::PortFactoryRequestResponse health_service;
  data_daemon_ipc::Client health_client;
  data_daemon_ipc::PortFactoryRequestResponse version_service;
  data_daemon_ipc::Client version_client;
  // When a command sent on commands_publisher last reached the daemon; unset before the first.
  std::chrono::steady_clock::time_point last_delivery{};

  IpcHandles(data_daemon_ipc::Node node, data_daemon_ipc::PortFactoryPublishSubscribe service,
             data_daemon_ipc::Publisher publisher, QueryClient recording_ids, QueryClient health,
             QueryClient version);
  IpcHandles(IpcHandles&& other) noexcept;
  IpcHandles& operator=(IpcHandles&&) = delete;
  ~IpcHandles();

  // Sleeps until kReleaseGrace has passed since the last delivery, if there was one.
  void wait_out_release_grace() const;

  // Keeps every object unreleased for the rest of the process (a forked child's inherited set,
  // or any set once the process is exiting): nothing of its node, services or ports is touched.
  void keep_forever() &&;
};

// From now on, for good, every set that goes (its thread ends) is kept forever instead of being
// released, without waiting for anything. For the process's exit. Any thread.
void keep_ipc_handles_from_now_on();

// Builds a whole set, or returns the error of the first failing step after releasing what was
// built before it. Registers the fork handler first (once per process). The commands publisher
// loans at most MAX_ENVELOPE_BYTES and discards a send for a full subscriber buffer (which
// publish_with_deadline then waits out).
//
// With no daemon, the services exist only while some thread or process holds them: one that
// ends removes what it alone held, while the next may be opening it. An open that finds a
// service so in transition is tried again for up to kServiceTransitionWait; after that the
// build fails with a ServiceOpen marked in_transition, which every caller takes as no daemon.
data_daemon_shared::Result<IpcHandles, PublisherError> open_ipc_handles();

// The request-response service `name` with kQueryServiceSettings (opened as open_ipc_handles
// opens a service) and a Static client on it.
data_daemon_shared::Result<QueryClient, PublisherError> open_query_client(
    const data_daemon_ipc::Node& node, std::string_view name, uint64_t initial_max_slice_len);

// How many times open_ipc_handles ran on the calling thread (inherited by a forked child). Lets
// tests see whether a set was built again.
uint64_t ipc_handles_build_count();

}  // namespace data_daemon_bridge
