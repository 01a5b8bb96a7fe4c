// The daemon side of the query tests, run as a second process:
//
//   query_peer SERVICE ACTION...
//
// serves the request-response service SERVICE (with the daemon link's settings), prints "ready",
// and then, for the n-th request it receives, prints "request <hex of the request>" and carries
// out the n-th ACTION (the last one repeats):
//
//   drop               release the request unanswered
//   health:N           a health reply with ready value N, echoing the request id
//   health-other:N     the same, echoing another request id
//   version:TEXT       a version reply with TEXT, echoing the request id
//   version-other:TEXT the same, echoing another request id
//   id:TEXT            a recording-id reply carrying TEXT (possibly empty)
//   no-id              a recording-id reply without an id
//   bytes:HEX          exactly these bytes (lower-case hex, possibly none)
//
// An action ending in "@MS" is carried out MS milliseconds after its request arrived. The peer
// runs until it is killed, or gives up after 60 s.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "data_daemon_ipc/request_response.h"
#include "data_daemon_shared/hex.h"
#include "data_daemon_shared/postcard.h"

using namespace data_daemon_ipc;
namespace postcard = data_daemon_shared::postcard;

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "query_peer: %s\n", what.c_str());
  std::exit(1);
}

template <class T>
T get(IpcResult<T> result, const char* what) {
  if (!result) fail(std::string(what) + ": " + result.error().text);
  return std::move(result).value();
}

// The reply of `action` to `request`, or nothing for "drop".
std::optional<std::vector<uint8_t>> reply_for(std::string_view action,
                                              std::span<const uint8_t> request) {
  const size_t colon = action.find(':');
  const std::string_view kind = action.substr(0, colon);
  const std::string_view arg = colon == std::string_view::npos ? "" : action.substr(colon + 1);
  postcard::Bytes out;
  if (kind == "drop") return std::nullopt;
  if (kind == "no-id") {
    out.push_back(0);
    return out;
  }
  if (kind == "id") {
    out.push_back(1);
    postcard::put_text(out, arg);
    return out;
  }
  if (kind == "bytes") {
    auto bytes = data_daemon_shared::parse_hex(arg);
    if (!bytes) fail("not hex: " + std::string(arg));
    return bytes;
  }

  auto id = postcard::Reader(request).u64();
  if (!id) fail("request is not a request id");
  const uint64_t echoed = id.value() + (kind.ends_with("-other") ? 1 : 0);
  if (kind.starts_with("health")) {
    postcard::put_varint(out, std::strtoul(std::string(arg).c_str(), nullptr, 10));
    postcard::put_varint(out, echoed);
    return out;
  }
  if (kind.starts_with("version")) {
    postcard::put_varint(out, echoed);
    postcard::put_text(out, arg);
    return out;
  }
  fail("unknown action " + std::string(action));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) fail("usage: query_peer SERVICE ACTION...");
  const std::vector<std::string> actions(argv + 2, argv + argc);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);

  auto node = get(Node::create(), "node");
  auto name = get(ServiceName::create(argv[1]), "service name");
  auto service = get(
      PortFactoryRequestResponse::open_or_create(node, name, RequestResponseSettings{128, 1, 512}),
      "open request-response");
  auto server = get(service.server(4096), "server");
  std::printf("ready\n");
  std::fflush(stdout);

  for (size_t n = 0; std::chrono::steady_clock::now() < give_up;) {
    auto request = get(server.receive(), "receive");
    if (!request) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    const auto arrived = std::chrono::steady_clock::now();
    const auto request_hex =
        data_daemon_shared::to_hex(request->payload(), data_daemon_shared::HexForm::Packed);
    std::printf("request %s\n", request_hex.c_str());
    std::fflush(stdout);

    std::string_view action = actions[std::min(n++, actions.size() - 1)];
    if (const size_t at = action.rfind('@'); at != std::string_view::npos) {
      std::this_thread::sleep_until(arrived + std::chrono::milliseconds(std::atol(
                                                  std::string(action.substr(at + 1)).c_str())));
      action = action.substr(0, at);
    }
    const auto reply = reply_for(action, request->payload());
    if (!reply) continue;  // the request is released unanswered
    auto response = get(request->loan_slice_uninit(reply->size()), "loan response");
    std::copy(reply->begin(), reply->end(), response.payload_mut().begin());
    get(send(std::move(response)), "send response");
  }
  fail("gave up");
}
