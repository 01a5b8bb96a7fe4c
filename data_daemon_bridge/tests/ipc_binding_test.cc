// The iceoryx2 binding against a peer in another process (tests/ipc_peer.cc).
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "data_daemon_ipc/publish_subscribe.h"
#include "data_daemon_ipc/request_response.h"
#include "gtest/gtest.h"
#include "support/child_process.h"
#include "support/unwrap.h"

namespace {

using namespace data_daemon_ipc;
using data_daemon_bridge::testing::ChildProcess;
using data_daemon_bridge::testing::helper_path;

// A service name of this test process alone, so that tests running in parallel never meet.
std::string private_service(const std::string& leaf) {
  return "data_bridge_test/" + std::to_string(getpid()) + "/" + leaf;
}

using data_daemon_bridge::testing::unwrap;

IpcResult<uint64_t> publish(const Publisher& publisher, const std::vector<uint8_t>& bytes) {
  auto sample = publisher.loan_slice_uninit(bytes.size());
  if (!sample) return Err(sample.error());
  std::copy(bytes.begin(), bytes.end(), sample.value().payload_mut().begin());
  return send(std::move(sample).value());
}

struct CommandsLike {
  Node node = unwrap(Node::create());
  ServiceName name;
  PortFactoryPublishSubscribe service;
  Publisher publisher;

  explicit CommandsLike(const std::string& service_name, uint64_t max_slice_len = 64)
      : name(unwrap(ServiceName::create(service_name))),
        service(unwrap(PortFactoryPublishSubscribe::open_or_create(
            node, name, PublishSubscribeSettings{false, 64, 128, 1, 512}))),
        publisher(unwrap(service.publisher(max_slice_len, UnableToDeliverStrategy::Block))) {}
};

TEST(IpcBinding, SamplesReachASubscriberInAnotherProcessInOrder) {
  const std::string service = private_service("pubsub");
  CommandsLike link(service);
  EXPECT_EQ(unwrap(publish(link.publisher, {0xAA})), 0u) << "no subscriber yet";

  ChildProcess peer({helper_path("ipc_peer"), "subscribe", service, "3"});
  ASSERT_TRUE(peer.wait_for_line("ready"));
  for (std::vector<uint8_t> bytes : {std::vector<uint8_t>{1, 2, 3}, {0x10}, {0xFF, 0x00}}) {
    EXPECT_EQ(unwrap(publish(link.publisher, bytes)), 1u);
  }
  EXPECT_EQ(peer.read_line(), "010203");
  EXPECT_EQ(peer.read_line(), "10");
  EXPECT_EQ(peer.read_line(), "ff00");
  EXPECT_EQ(peer.read_line(), "done");
  EXPECT_EQ(peer.wait(), 0);
}

TEST(IpcBinding, ARequestReachesAServerAndItsResponseComesBack) {
  const std::string service = private_service("rr");
  auto node = unwrap(Node::create());
  auto name = unwrap(ServiceName::create(service));
  auto factory = unwrap(
      PortFactoryRequestResponse::open_or_create(node, name, RequestResponseSettings{128, 1, 512}));
  auto client = unwrap(factory.client(4096));
  ChildProcess peer({helper_path("ipc_peer"), "serve", service, "1"});
  ASSERT_TRUE(peer.wait_for_line("ready"));

  auto request = unwrap(client.loan_slice_uninit(3));
  const uint8_t bytes[] = {1, 2, 3};
  std::copy(std::begin(bytes), std::end(bytes), request.payload_mut().begin());
  auto pending = unwrap(send(std::move(request)));
  std::optional<Response> response;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!response && std::chrono::steady_clock::now() < give_up) {
    response = unwrap(pending.receive());
    if (!response) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(std::vector<uint8_t>(response->payload().begin(), response->payload().end()),
            (std::vector<uint8_t>{3, 2, 1}));
  EXPECT_EQ(peer.wait(), 0);
}

TEST(IpcBinding, WithNoServerARequestIsSentAndNothingComesBack) {
  auto node = unwrap(Node::create());
  auto name = unwrap(ServiceName::create(private_service("no_server")));
  auto factory = unwrap(
      PortFactoryRequestResponse::open_or_create(node, name, RequestResponseSettings{128, 1, 512}));
  auto client = unwrap(factory.client(16));
  auto request = unwrap(client.loan_slice_uninit(1));
  request.payload_mut()[0] = 7;
  auto pending = unwrap(send(std::move(request)));
  for (int poll = 0; poll < 20; ++poll) {
    EXPECT_FALSE(unwrap(pending.receive()).has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST(IpcBinding, FailuresCarryTheLibrarysOwnText) {
  EXPECT_EQ(ServiceName::create("").error().text, "ServiceNameError::InvalidContent");

  CommandsLike link(private_service("loan"), 8);
  EXPECT_EQ(link.publisher.loan_slice_uninit(9).error().text, "LoanError::ExceedsMaxLoanSize");

  // The service was made with max_subscribers 1: a second subscriber is refused.
  auto first = unwrap(link.service.subscriber());
  EXPECT_EQ(link.service.subscriber().error().text,
            "SubscriberCreateError::ExceedsMaxSupportedSubscribers");
}

}  // namespace
