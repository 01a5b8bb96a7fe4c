// The far side of the binding tests, run as a second process:
//
//   ipc_peer subscribe SERVICE COUNT [DELAY_MS]
//                                      after DELAY_MS, subscribe and print "ready", then print
//                                      each sample's payload as hex, one a line; after COUNT
//                                      samples keep taking samples for 100 ms more, printing
//                                      each as "extra HEX", then print "done" and exit
//   ipc_peer hold SERVICE              subscribe, print "ready", and take no sample until SIGUSR2
//                                      comes; then take them all as they arrive
//   ipc_peer serve SERVICE COUNT       serve requests, answering each with its bytes reversed,
//                                      print "ready", and exit after COUNT responses
//
// The services are opened with the command link's settings. Each mode gives up after 30 s.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "data_daemon_ipc/publish_subscribe.h"
#include "data_daemon_ipc/request_response.h"
#include "data_daemon_shared/hex.h"

using namespace data_daemon_ipc;
using data_daemon_shared::HexForm;
using data_daemon_shared::to_hex;

namespace {

[[noreturn]] void fail(const char* what, const IpcError& e) {
  std::fprintf(stderr, "ipc_peer: %s: %s\n", what, e.text.c_str());
  std::exit(1);
}

template <class T>
T get(IpcResult<T> result, const char* what) {
  if (!result) fail(what, result.error());
  return std::move(result).value();
}

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

volatile sig_atomic_t drain_requested = 0;

const auto kGiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);

void pause_or_give_up() {
  if (std::chrono::steady_clock::now() > kGiveUp) {
    std::fprintf(stderr, "ipc_peer: gave up\n");
    std::exit(2);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

PortFactoryPublishSubscribe open_commands_like(const Node& node, const ServiceName& name) {
  return get(PortFactoryPublishSubscribe::open_or_create(
                 node, name, PublishSubscribeSettings{false, 64, 128, 1, 512}),
             "open publish-subscribe");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ipc_peer subscribe|hold|serve SERVICE [COUNT]\n");
    return 64;
  }
  const std::string mode = argv[1];
  const long count = argc > 3 ? std::atol(argv[3]) : 0;
  const long delay_ms = argc > 4 ? std::atol(argv[4]) : 0;
  auto node = get(Node::create(), "node");
  auto name = get(ServiceName::create(argv[2]), "service name");

  if (mode == "subscribe" || mode == "hold") {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    auto service = open_commands_like(node, name);
    auto subscriber = get(service.subscriber(), "subscriber");
    say("ready");
    if (mode == "hold") {
      signal(SIGUSR2, [](int) { drain_requested = 1; });
      for (;;) {
        while (drain_requested && get(subscriber.receive(), "receive")) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    for (long received = 0; received < count;) {
      auto sample = get(subscriber.receive(), "receive");
      if (!sample) {
        pause_or_give_up();
        continue;
      }
      say(to_hex(sample->payload(), HexForm::Packed));
      ++received;
    }
    const auto drain_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < drain_end) {
      auto sample = get(subscriber.receive(), "receive");
      if (sample) say("extra " + to_hex(sample->payload(), HexForm::Packed));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    say("done");
    return 0;
  }

  if (mode == "serve") {
    auto service = get(PortFactoryRequestResponse::open_or_create(
                           node, name, RequestResponseSettings{128, 1, 512}),
                       "open request-response");
    auto server = get(service.server(4096), "server");
    say("ready");
    for (long served = 0; served < count;) {
      auto request = get(server.receive(), "receive");
      if (!request) {
        pause_or_give_up();
        continue;
      }
      std::vector<uint8_t> reply(request->payload().rbegin(), request->payload().rend());
      auto response = get(request->loan_slice_uninit(reply.size()), "loan response");
      std::copy(reply.begin(), reply.end(), response.payload_mut().begin());
      get(send(std::move(response)), "send response");
      ++served;
    }
    return 0;
  }
  std::fprintf(stderr, "ipc_peer: unknown mode %s\n", mode.c_str());
  return 64;
}
