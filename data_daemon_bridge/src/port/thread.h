// Named, detached threads with a chosen stack size, and the names the platform shows for them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "data_daemon_shared/result.h"

namespace data_daemon_bridge::port {

// The longest thread name the platform keeps: 15 characters on Linux, 63 on macOS.
size_t max_thread_name_chars();

// The name shortened to at most max_chars characters. Our names have the form "qs-role" or
// "qs-role-{index}"; the distinguishing part is at the end, so a name that is too long first
// loses its "qs-" prefix ("qs-png-compress-0" shows as "png-compress-0") and, if still too long,
// keeps its last max_chars characters. A name that fits is kept whole.
std::string shorten_thread_name(std::string_view name, size_t max_chars);

// shorten_thread_name with this platform's limit: the name a thread given `name` shows.
std::string visible_thread_name(std::string_view name);

// Starts a detached thread that names itself visible_thread_name(name) and then runs body, with a
// stack of stack_bytes (0: the platform's default). On failure nothing runs and the result carries
// the system error's text.
data_daemon_shared::Result<data_daemon_shared::Unit, std::string> start_detached_thread(
    std::string name, size_t stack_bytes, std::function<void()> body);

// The calling thread's name as the platform shows it ("" if it cannot be read).
std::string current_thread_name();

}  // namespace data_daemon_bridge::port
