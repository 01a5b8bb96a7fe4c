// Builds the calling thread's IPC handle set, as a module's first publish or query does, and
// prints "built" (or the error's text). With --sink it first installs an event sink that prints
// each event as "event LEVEL TARGET | MESSAGE". Run with stderr merged into stdout, its output
// shows everything the build wrote.
#include <cstdio>
#include <string_view>

#include "events/events.h"
#include "publisher/ipc_handles_cell.h"

using namespace data_daemon_bridge;

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--sink") {
    set_event_sink([](const Event& e) {
      std::printf("event %s %.*s | %.*s\n", std::string(event_level_name(e.level)).c_str(),
                  static_cast<int>(e.target.size()), e.target.data(),
                  static_cast<int>(e.message.size()), e.message.data());
      std::fflush(stdout);
    });
  }
  auto borrow = borrow_ipc_handles();
  std::printf("%s\n", borrow ? "built" : publisher_error_text(borrow.error()).c_str());
  return borrow ? 0 : 1;
}
