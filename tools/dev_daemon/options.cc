#include "dev_daemon/options.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace dev_daemon {

const char* const kUsage = R"(usage: dev_daemon [options]

A stand-in for the data daemon, for development and tests. It subscribes to the commands
service "quillspan/data_daemon/commands" and prints every envelope it receives as one JSON
line on stdout, flushed at once:

  {"variant":"StopRecording","robot_id":"arm","robot_instance":0,"publish_timestamp_ns":...}

the variant's name first, then its fields in wire order; byte strings in lower-case hex,
absent optional fields as null, BatchedData samples as [{"name":...,"payload":"<hex>"}],
frame dtypes by name ("Rgb8"), floats in shortest round-trip digits (NaN and Infinity as
Python's json module reads them). An envelope that does not decode prints
{"error":"<why>","bytes":"<hex>"}; bytes after an envelope's last field appear as
"trailing":"<hex>".

It also serves the query services "quillspan/data_daemon/health", ".../version" and
".../recording_ids", answering every request with the values below. It runs until SIGINT or
SIGTERM, then releases its ports and exits with status 0; it exits with status 1 when it
cannot open a service or port (another daemon already subscribed, say: the commands service
takes one subscriber). Diagnostics go to stderr.

options:
  --ready-value N      health replies carry ready value N (0 to 4294967295; default 1;
                       0 means "not ready")
  --version-text TEXT  version replies carry TEXT (default "dev")
  --recording-id TEXT  recording-id replies carry TEXT (default: no id, "not minted yet")
  --reply-delay-ms MS  answer each query MS milliseconds after it arrives (default 0);
                       envelopes keep being printed meanwhile
  --read-delay-us US   take at most one envelope every US microseconds (0 to 1000000;
                       default 0: as fast as they come), so that a producer publishing
                       faster fills the subscriber's buffer; a late wake-up is made up by
                       the next envelopes, so the rate holds at one per US while envelopes
                       wait; queries are still answered between envelopes
  --announce-ready     print the line {"ready":true} once subscribed and serving
  -h, --help           print this text and exit
)";

namespace {

bool parse_u64(std::string_view text, uint64_t max, uint64_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(copy.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value > max) return false;
  out = value;
  return true;
}

ParsedOptions error(const std::string& text) {
  return ParsedOptions{std::nullopt, "dev_daemon: " + text + "\n(see dev_daemon --help)\n", 64};
}

}  // namespace

ParsedOptions parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") return ParsedOptions{std::nullopt, kUsage, 0};
    if (arg == "--announce-ready") {
      options.announce_ready = true;
      continue;
    }
    if (arg != "--ready-value" && arg != "--version-text" && arg != "--recording-id" &&
        arg != "--reply-delay-ms" && arg != "--read-delay-us") {
      return error("unknown option " + std::string(arg));
    }
    if (i + 1 >= argc) return error(std::string(arg) + " needs a value");
    const std::string_view value = argv[++i];
    uint64_t number = 0;
    if (arg == "--ready-value") {
      if (!parse_u64(value, UINT32_MAX, number)) return error("bad --ready-value");
      options.ready_value = static_cast<uint32_t>(number);
    } else if (arg == "--version-text") {
      options.version = value;
    } else if (arg == "--recording-id") {
      options.recording_id = std::string(value);
    } else if (arg == "--reply-delay-ms") {
      if (!parse_u64(value, 86'400'000, number)) return error("bad --reply-delay-ms");
      options.reply_delay = std::chrono::milliseconds(number);
    } else {
      if (!parse_u64(value, 1'000'000, number)) return error("bad --read-delay-us");
      options.read_delay = std::chrono::microseconds(number);
    }
  }
  return ParsedOptions{options, "", 0};
}

}  // namespace dev_daemon
