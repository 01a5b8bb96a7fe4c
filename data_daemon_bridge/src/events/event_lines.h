// Events as lines of text for a person reading the process's standard error, with bursts of the
// same event folded into one line with a count.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "events/events.h"

namespace data_daemon_bridge {

// "WARN data_daemon_bridge::writer: failed to open NUT chunk; dropping frame sensor_name="cam"
// error="..."": level, target, message, then every field as name="value" (quoted, so a value
// never breaks the line or steers a terminal). Ends with a newline.
//
// At most max_bytes long, newline included. A line that would be longer keeps the fields that
// fit whole, then as much of the next value as fits, cut between two characters (never inside an
// escape) with its quote closed, and ends in "..." after it. REQUIRES: max_bytes leaves room for
// the level, the target, the message and "...".
std::string event_line(const Event& event, size_t max_bytes = std::string::npos);

// Folds repeats: an event with the level, target and message of one written less than
// kFoldWindow before is counted instead of written. A burst's count is written as one line of
// its own ("<level> <target>: <message>: 41 more like this") with the first line written after
// the burst's window closed, or by flush(). So a steady stream of one event shows as about two
// lines a kFoldWindow, and bursts of different events interleaved fold each on its own.
//
// Not thread-safe: its owner serialises the calls.
class EventFolder {
 public:
  static constexpr std::chrono::seconds kFoldWindow{1};
  // The most different events folded at once; the one written longest ago makes room.
  static constexpr size_t kMaxFolding = 32;

  // Each line it gives is at most max_line_bytes long (event_line's cut).
  explicit EventFolder(size_t max_line_bytes = std::string::npos)
      : max_line_bytes_(max_line_bytes) {}

  // The lines to write for event, arriving at now: none while it is folded.
  std::vector<std::string> accept(const Event& event, std::chrono::steady_clock::time_point now);

  // The count lines of every burst not yet counted.
  std::vector<std::string> flush();

 private:
  struct Folding {
    EventLevel level;
    std::string target;
    std::string message;
    std::chrono::steady_clock::time_point written_at;  // its window starts here
    uint64_t folded = 0;                               // events counted in the window
  };
  // Appends f's count line to lines, if it counted any, and resets the count.
  static void count_line(Folding& f, std::vector<std::string>& lines);

  size_t max_line_bytes_;
  std::vector<Folding> folding_;  // in the order written, oldest first
};

}  // namespace data_daemon_bridge
