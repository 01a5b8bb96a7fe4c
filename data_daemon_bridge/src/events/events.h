// The process-wide structured-event facility: every log event of the module goes here, with a
// level, a target (the k...LogTarget names below), a fixed message and named fields.
//
// An event reaches the sink the host installed with set_event_sink. While there is none, WARN and
// ERROR events are written to the process's standard error (stderr_sink.h), so that what was
// dropped or failed off the calling threads is seen; DEBUG events then go nowhere. Any thread may
// emit; the sink is called on the emitting thread, with no lock of the facility held, and must not
// emit from within itself on the same thread.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
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

// Throws only what an installed sink throws: while there is none, an event whose line cannot be
// made or queued for want of memory is lost, and counted on stderr (stderr_sink.h).
void emit_event(EventLevel level, std::string_view target, std::string_view message,
                std::vector<EventField> fields = {});

// Counts an event that was never emitted because memory ran out while it was being built; while
// no sink is installed the count reaches stderr with the next line written. Never throws.
void count_unemitted_event() noexcept;

// emit_event with the fields make_fields() returns, for code that must go on whatever happens
// (the module's own threads, and what reports memory running out): should building the fields or
// handing the event on fail, the event is lost and counted instead. Never throws.
template <class MakeFields>
void emit_event_nothrow(EventLevel level, std::string_view target, std::string_view message,
                        MakeFields&& make_fields) noexcept {
  try {
    emit_event(level, target, message, std::forward<MakeFields>(make_fields)());
  } catch (const std::exception&) {
    count_unemitted_event();  // a sink that throws loses its event just the same
  }
}

}  // namespace data_daemon_bridge
