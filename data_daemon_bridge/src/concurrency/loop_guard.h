// Guards for the loops of the module's own threads (the video writer, the PNG compression
// threads, the data publisher), which must go on whatever one item costs: memory that runs out
// loses the item at hand with a WARN event, and nothing a step throws ends its thread, which
// would end the process.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "events/events.h"
#include "port/thread_exit.h"

namespace data_daemon_bridge {

// Runs work() and returns true. Should memory run out inside it (std::bad_alloc), the item it
// worked on is lost: the WARN `message` is emitted to `target` with the fields make_fields()
// returns, without throwing (emit_event_nothrow), and the result is false. What work() has
// changed by then must leave its state consistent; that is work()'s contract, not this one's.
// Other exceptions pass unchanged.
template <class Work, class MakeFields>
bool drop_on_out_of_memory(std::string_view target, std::string_view message,
                           MakeFields&& make_fields, Work&& work) {
  try {
    std::forward<Work>(work)();
    return true;
  } catch (const std::bad_alloc&) {
    emit_event_nothrow(EventLevel::Warn, target, message, std::forward<MakeFields>(make_fields));
    return false;
  }
}

// Runs one step of a thread's loop and lets no C++ exception out of it: one that escapes is
// logged as the WARN `message` with the field error (its what(), or "unknown exception"), and
// the caller goes on with its next step. The backstop behind the item guards, for what they do
// not foresee. A thread exit (port/thread_exit.h) is let through.
template <class Step>
void run_loop_step(std::string_view target, std::string_view message, Step&& step) {
  try {
    std::forward<Step>(step)();
  } catch (const std::exception& e) {
    emit_event_nothrow(EventLevel::Warn, target, message, [&] {
      return std::vector<EventField>{{"error", e.what()}};
    });
  } catch (...) {
    port::rethrow_if_thread_exit();
    emit_event_nothrow(EventLevel::Warn, target, message, [] {
      return std::vector<EventField>{{"error", "unknown exception"}};
    });
  }
}

}  // namespace data_daemon_bridge
