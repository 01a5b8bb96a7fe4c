// A test sink that records the module's log events, from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "events/events.h"

namespace data_daemon_bridge::testing {

struct CapturedEvent {
  EventLevel level;
  std::string target;
  std::string message;
  std::vector<EventField> fields;

  std::string field(const std::string& name) const {
    for (const auto& f : fields) {
      if (f.name == name) return f.value;
    }
    return "<none>";
  }
};

// Installs itself as the sink for its lifetime.
class EventCapture {
 public:
  EventCapture() {
    set_event_sink([this](const Event& e) {
      std::lock_guard lock(mutex_);
      events_.push_back({e.level, std::string(e.target), std::string(e.message), e.fields});
    });
  }
  ~EventCapture() { set_event_sink(nullptr); }

  // The events of one target, in emission order.
  std::vector<CapturedEvent> events(const std::string& target) const {
    std::lock_guard lock(mutex_);
    std::vector<CapturedEvent> out;
    for (const auto& e : events_) {
      if (e.target == target) out.push_back(e);
    }
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<CapturedEvent> events_;
};

}  // namespace data_daemon_bridge::testing
