// The process-wide structured-event facility: every log event of the module goes here, with a
// level, a target (the k...LogTarget names below), a fixed message and named fields.
//
// An event reaches the sink the host installed with set_event_sink. While there is none, WARN and
// ERROR events are written to the process's standard error (stderr_sink.h), so that what was
// dropped or failed off the calling threads is seen; DEBUG events then go nowhere. Any thread may
// emit; the sink is called on the emitting thread, with no lock of the facility held, and must not
// emit from within itself on the same thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace data_daemon_bridge {

// The targets, one for each part of the module that emits events.
inline constexpr std::string_view kWriterLogTarget = "data_daemon_bridge::writer";
inline constexpr std::string_view kPublisherLogTarget = "data_daemon_bridge::publisher";
inline constexpr std::string_view kQueryLogTarget = "data_daemon_bridge::query";
inline constexpr std::string_view kIpcLogTarget = "data_daemon_bridge::ipc";

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

// True while a sink is installed.
bool event_sink_installed();

// True when an event of this level goes anywhere: emitters may skip building costly fields
// otherwise.
bool event_wanted(EventLevel level);

void emit_event(EventLevel level, std::string_view target, std::string_view message,
                std::vector<EventField> fields = {});

}  // namespace data_daemon_bridge
