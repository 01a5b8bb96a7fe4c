// dev_daemon: a stand-in for the data daemon (see options.cc for what it does and its options).
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "data_daemon_ipc/publish_subscribe.h"
#include "data_daemon_ipc/request_response.h"
#include "dev_daemon/envelope_json.h"
#include "dev_daemon/options.h"
#include "dev_daemon/query_server.h"
#include "publisher/ipc_handles.h"

using namespace data_daemon_ipc;
using dev_daemon::QueryServer;

namespace {

std::atomic<bool> STOP_REQUESTED{false};

void request_stop(int) { STOP_REQUESTED.store(true); }

void print_line(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// iceoryx2's errors, to stderr; below that (its warning that no configuration file was found
// among them) it is dropped.
void log_to_stderr(uint8_t level, const char* origin, size_t origin_len, const char* message,
                   size_t message_len) {
  if (level < 4) return;
  std::fprintf(stderr, "dev_daemon: iceoryx2: %.*s | %.*s\n", static_cast<int>(origin_len), origin,
               static_cast<int>(message_len), message);
}

template <class T>
T or_exit(IpcResult<T> result, const std::string& what) {
  if (!result) {
    std::fprintf(stderr, "dev_daemon: %s: %s\n", what.c_str(), result.error().text.c_str());
    std::exit(1);
  }
  return std::move(result).value();
}

}  // namespace

int main(int argc, char** argv) {
  auto parsed = dev_daemon::parse_options(argc, argv);
  if (!parsed.options) {
    std::fputs(parsed.message.c_str(), parsed.exit_code == 0 ? stdout : stderr);
    return parsed.exit_code;
  }
  const dev_daemon::Options options = *parsed.options;

  struct sigaction action {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  set_log_handler(&log_to_stderr);
  auto node = or_exit(Node::create(), "node");
  auto commands_name =
      or_exit(ServiceName::create(data_daemon_bridge::kCommandsService), "service name");
  auto commands = or_exit(PortFactoryPublishSubscribe::open_or_create(
                              node, commands_name, data_daemon_bridge::kCommandsServiceSettings),
                          "open commands service");
  auto subscriber = or_exit(commands.subscriber(), "commands subscriber");

  // Responses are bounded by the server's slice length: room for the longest one we send.
  const uint64_t max_reply =
      64 + std::max(options.version.size(), options.recording_id.value_or("").size());
  std::vector<std::unique_ptr<QueryServer>> servers;
  for (auto query :
       {QueryServer::Query::Health, QueryServer::Query::Version, QueryServer::Query::RecordingId}) {
    const std::string name(dev_daemon::query_service_name(query));
    auto service_name = or_exit(ServiceName::create(name), "service name");
    auto service = or_exit(PortFactoryRequestResponse::open_or_create(
                               node, service_name, data_daemon_bridge::kQueryServiceSettings),
                           "open " + name);
    auto server = or_exit(service.server(max_reply), "server on " + name);
    servers.push_back(
        std::make_unique<QueryServer>(query, std::move(service), std::move(server), options));
  }
  if (options.announce_ready) print_line("{\"ready\":true}");

  // With a read delay, envelopes are taken at turns one delay apart, counted from the first
  // envelope after an idle spell rather than from the previous wake-up: a sleep that overshoots
  // is made up by the next turns, so the rate holds at one envelope per delay while envelopes
  // wait, and an idle spell earns no burst. Queries are answered between turns.
  const bool paced = options.read_delay.count() > 0;
  auto next_turn = std::chrono::steady_clock::now();
  while (!STOP_REQUESTED.load()) {
    bool idle = true;
    for (;;) {
      if (paced) std::this_thread::sleep_until(next_turn);
      auto sample = subscriber.receive();
      if (!sample) {
        std::fprintf(stderr, "dev_daemon: receive failed: %s\n", sample.error().text.c_str());
        break;
      }
      if (!sample.value()) break;
      idle = false;
      print_line(dev_daemon::envelope_json(sample.value()->payload()));
      if (paced) {
        next_turn += options.read_delay;
        break;
      }
    }
    for (auto& server : servers) server->poll();
    if (idle) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      next_turn = std::chrono::steady_clock::now();
    }
  }
  return 0;
}
