// The development daemon's command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace dev_daemon {

struct Options {
  uint32_t ready_value = 1;
  std::string version = "dev";
  std::optional<std::string> recording_id;  // none: "not minted yet"
  std::chrono::milliseconds reply_delay{0};
  // At most one envelope taken per read_delay (zero: as fast as they come).
  std::chrono::microseconds read_delay{0};
  bool announce_ready = false;
};

extern const char* const kUsage;

// The options, or the text to print before exiting (the usage for --help, an error otherwise).
struct ParsedOptions {
  std::optional<Options> options;
  std::string message;
  int exit_code = 0;
};

ParsedOptions parse_options(int argc, char** argv);

}  // namespace dev_daemon
