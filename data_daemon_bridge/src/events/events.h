// The process-wide structured-event facility: every log event of the module goes here, with a
// level, a target ("data_daemon_bridge::writer", ...), a fixed message and named fields.
//
// The module installs no sink of its own: an event reaches the sink the host installed with
// set_event_sink, or nobody. Any thread may emit; the sink is called on the emitting thread, with
// no lock of the facility held, and must not emit from within itself on the same thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace data_daemon_bridge {

enum class EventLevel { Debug, Warn, Error };

std::string_view event_level_name(EventLevel level);  // "DEBUG", "WARN", "ERROR"

struct EventField {
  std::string name;
  std::string value;
};

struct Event {
  EventLevel level;
  std::string_view target;
  std::string_view message;
  const std::vector<EventField>& fields;

  // The field's value, or nullptr when the event has no such field.
  const std::string* field(std::string_view name) const;
};

using EventSink = std::function<void(const Event&)>;

// Replaces the sink; an empty function removes it. Safe against concurrent emitters: an emitter
// that already holds the old sink finishes with it.
void set_event_sink(EventSink sink);

// True while a sink is installed: emitters may skip building costly fields otherwise.
bool event_sink_installed();

void emit_event(EventLevel level, std::string_view target, std::string_view message,
                std::vector<EventField> fields = {});

}  // namespace data_daemon_bridge
