#include "events/event_lines.h"

#include "data_daemon_shared/quoted.h"

namespace data_daemon_bridge {

namespace {

void append_field(std::string& line, const EventField& field) {
  line += ' ';
  line += field.name;
  line += '=';
  line += data_daemon_shared::quoted(field.value);
}

}  // namespace

std::string event_line(const Event& event, size_t max_bytes) {
  constexpr std::string_view kCutMark = "...";
  std::string line(event_level_name(event.level));
  line += ' ';
  line += event.target;
  line += ": ";
  line += event.message;
  const size_t head_size = line.size();
  for (const EventField& field : event.fields) append_field(line, field);
  if (line.size() < max_bytes) {
    line += '\n';
    return line;
  }
  // Too long: the fields that fit whole before the mark, then the start of the next value.
  line.resize(head_size);
  const size_t limit = max_bytes - kCutMark.size() - 1;  // the mark and the newline follow
  for (const EventField& field : event.fields) {
    const size_t before = line.size();
    append_field(line, field);
    if (line.size() <= limit) continue;
    line.resize(before);
    if (before + field.name.size() + 4 <= limit) {  // ' ', the name, '="' and the closing '"'
      line += ' ';
      line += field.name;
      line += "=\"";
      (void)data_daemon_shared::append_escaped(line, field.value, limit - 1);
      line += '"';
    }
    break;
  }
  line += kCutMark;
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
  lines.push_back(event_line(event, max_line_bytes_));
  folding_.push_back({event.level, std::string(event.target), std::string(event.message), now});
  return lines;
}

std::vector<std::string> EventFolder::flush() {
  std::vector<std::string> lines;
  for (Folding& f : folding_) count_line(f, lines);
  return lines;
}

}  // namespace data_daemon_bridge
