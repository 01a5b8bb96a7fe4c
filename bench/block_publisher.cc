// The baseline of the lagging-daemon benchmark (bench/lagging_daemon.py): a producer that gives
// a subscriber as much as it can take. It publishes on the commands service with the Block
// strategy, which waits inside the IPC library for room in a full subscriber buffer, the same
// BatchedData envelopes that log_joints makes, built and encoded by the module's own code.
//
//   block_publisher COUNT JOINTS
//
// Run in the daemon's IPC sandbox. It opens its publisher and prints "ready"; on the line "go"
// from stdin it publishes COUNT envelopes of JOINTS joints each, as fast as the subscriber takes
// them, and prints "sent"; it keeps its publisher until stdin closes, so that the daemon takes
// every envelope before the port goes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "clock/publish_clock.h"
#include "data_daemon_ipc/node.h"
#include "data_daemon_ipc/publish_subscribe.h"
#include "publisher/ipc_handles.h"
#include "publisher/limits.h"
#include "publisher/sample_envelopes.h"

using namespace data_daemon_ipc;

namespace {

template <class T>
T or_exit(IpcResult<T> result, const char* what) {
  if (!result) {
    std::fprintf(stderr, "block_publisher: %s: %s\n", what, result.error().text.c_str());
    std::exit(1);
  }
  return std::move(result).value();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: block_publisher COUNT JOINTS\n");
    return 64;
  }
  const long count = std::atol(argv[1]);
  const long joints = std::atol(argv[2]);
  std::string names;
  std::vector<double> values;
  for (long j = 0; j < joints; ++j) {
    if (j > 0) names.push_back('\0');
    names += "joint_" + std::to_string(j);
    values.push_back(0.25 * static_cast<double>(j));
  }

  auto node = or_exit(Node::create(), "node");
  auto name = or_exit(ServiceName::create(data_daemon_bridge::kCommandsService), "service name");
  auto service = or_exit(PortFactoryPublishSubscribe::open_or_create(
                             node, name, data_daemon_bridge::kCommandsServiceSettings),
                         "open commands service");
  auto publisher = or_exit(
      service.publisher(data_daemon_bridge::MAX_ENVELOPE_BYTES, UnableToDeliverStrategy::Block),
      "publisher");
  std::printf("ready\n");
  std::fflush(stdout);

  std::string line;
  if (!std::getline(std::cin, line) || line != "go") return 0;
  for (long k = 0; k < count; ++k) {
    data_daemon_bridge::JointFrame frame;
    frame.robot_id = "bench-arm";
    frame.data_type = "JOINT_POSITIONS";
    frame.names = names;
    frame.values = values;
    frame.timestamp_ns = k;
    frame.publish_timestamp_ns = data_daemon_bridge::publish_clock_ns();
    auto bytes = data_daemon_shared::encode_envelope(
        data_daemon_shared::Envelope{data_daemon_bridge::joint_frame_envelope(std::move(frame))});
    if (!bytes) {
      std::fprintf(stderr, "block_publisher: encoding failed\n");
      return 1;
    }
    auto sample = or_exit(publisher.loan_slice_uninit(bytes.value().size()), "loan");
    std::copy(bytes.value().begin(), bytes.value().end(), sample.payload_mut().begin());
    or_exit(send(std::move(sample)), "send");
  }
  std::printf("sent\n");
  std::fflush(stdout);
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
