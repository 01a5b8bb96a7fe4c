// Reading what a daemon-side helper process reports on its standard output.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace data_daemon_bridge::testing {

// Starts a helper that prints "ready" once it serves, and waits for that line.
inline std::unique_ptr<ChildProcess> start_ready_peer(const std::vector<std::string>& argv) {
  auto child = std::make_unique<ChildProcess>(argv);
  EXPECT_TRUE(child->wait_for_line("ready")) << argv[0] << " never got ready";
  return child;
}

// The next `count` lines, or fewer when the helper stops printing (each line's wait is bounded
// by ChildProcess::read_line, only so that a broken helper cannot hang the test).
inline std::vector<std::string> read_lines(ChildProcess& peer, size_t count) {
  std::vector<std::string> lines;
  while (lines.size() < count) {
    auto line = peer.read_line();
    if (!line) break;
    lines.push_back(*line);
  }
  return lines;
}

}  // namespace data_daemon_bridge::testing
