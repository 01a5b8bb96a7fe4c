#include "events/event_lines.h"

#include "data_daemon_shared/quoted.h"

namespace data_daemon_bridge {

std::string event_line(const Event& event) {
  std::string line(event_level_name(event.level));
  line += ' ';
  line += event.target;
  line += ": ";
  line += event.message;
  for (const EventField& field : event.fields) {
    line += ' ';
    line += field.name;
    line += '=';
    line += data_daemon_shared::quoted(field.value);
  }
  line += '\n';
  return line;
}

void EventFolder::count_line(Folding& f, std::vector<std::string>& lines) {
  if (f.folded == 0) return;
  lines.push_back(std::string(event_level_name(f.level)) + ' ' + f.target + ": " + f.message +
                  ": " + std::to_string(f.folded) + " more like this\n");
  f.folded = 0;
}

std::vector<std::string> EventFolder::accept(const Event& event,
                                             std::chrono::steady_clock::time_point now) {
  auto same = [&](const Folding& f) {
    return f.level == event.level && f.target == event.target && f.message == event.message;
  };
  for (Folding& f : folding_) {
    if (same(f) && now - f.written_at < kFoldWindow) {
      ++f.folded;
      return {};
    }
  }
  // A line is written: first the counts of the bursts that are over, this event's own included.
  std::vector<std::string> lines;
  std::erase_if(folding_, [&](Folding& f) {
    if (now - f.written_at < kFoldWindow) return false;
    count_line(f, lines);
    return true;
  });
  if (folding_.size() == kMaxFolding) {
    count_line(folding_.front(), lines);
    folding_.erase(folding_.begin());
  }
  lines.push_back(event_line(event));
  folding_.push_back({event.level, std::string(event.target), std::string(event.message), now});
  return lines;
}

std::vector<std::string> EventFolder::flush() {
  std::vector<std::string> lines;
  for (Folding& f : folding_) count_line(f, lines);
  return lines;
}

}  // namespace data_daemon_bridge
