// Named detached threads. The only place that knows how a platform names a thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "data_daemon_shared/result.h"

namespace data_daemon_bridge::port {

// Starts a detached thread that names itself `name` and then runs `body`. On failure `body` has
// been released before this returns, and the error is the system's text for the failure.
data_daemon_shared::Result<data_daemon_shared::Unit, std::string> spawn_detached_thread(
    std::string name, std::function<void()> body);

// Names the calling thread. Linux keeps 15 characters of a thread name, so a longer name is cut
// to its first 15: "qs-data-publisher" shows as "qs-data-publish", which still reads as the
// role. macOS keeps 63.
void set_current_thread_name(std::string_view name);

// The calling thread's name as the platform keeps it.
std::string current_thread_name();

}  // namespace data_daemon_bridge::port
