#include "events/events.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "events/stderr_sink.h"

namespace data_daemon_bridge {

namespace {

// Owner: the facility. The flag is the lock-free fast path for "no sink", the common case.
std::mutex EVENT_SINK_MUTEX;
std::shared_ptr<const EventSink> EVENT_SINK;  // guarded by EVENT_SINK_MUTEX
std::atomic<bool> EVENT_SINK_INSTALLED{false};

}  // namespace

std::string_view event_level_name(EventLevel level) {
  switch (level) {
    case EventLevel::Debug: return "DEBUG";
    case EventLevel::Warn: return "WARN";
    case EventLevel::Error: return "ERROR";
  }
  return "";
}

const std::string* Event::field(std::string_view name) const {
  for (const auto& f : fields) {
    if (f.name == name) return &f.value;
  }
  return nullptr;
}

void set_event_sink(EventSink new_sink) {
  std::shared_ptr<const EventSink> replaced;
  {
    std::lock_guard lock(EVENT_SINK_MUTEX);
    replaced = std::move(EVENT_SINK);
    if (new_sink) EVENT_SINK = std::make_shared<const EventSink>(std::move(new_sink));
    EVENT_SINK_INSTALLED.store(EVENT_SINK != nullptr, std::memory_order_release);
  }
  // The replaced sink is released here, outside the lock, unless an emitter still holds it.
}

bool event_sink_installed() { return EVENT_SINK_INSTALLED.load(std::memory_order_acquire); }

bool event_wanted(EventLevel level) { return level != EventLevel::Debug || event_sink_installed(); }

void emit_event(EventLevel level, std::string_view target, std::string_view message,
                std::vector<EventField> fields) {
  std::shared_ptr<const EventSink> current;
  if (event_sink_installed()) {
    std::lock_guard lock(EVENT_SINK_MUTEX);
    current = EVENT_SINK;
  }
  const Event event{level, target, message, fields};
  if (current) {
    (*current)(event);
  } else {
    write_event_to_stderr(event);
  }
}

void count_unemitted_event() noexcept {
  // A host's sink never hears of it: it has no way to be told of an event that is not there.
  if (!event_sink_installed()) count_lost_event_line();
}

}  // namespace data_daemon_bridge
