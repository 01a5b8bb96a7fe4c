// Fork hooks.
#pragma once

namespace data_daemon_bridge::port {

// Registers `child` to run in the child process right after fork, on the forking thread, with
// no prepare or parent handler. Returns 0, or the error code of the registration.
int register_fork_child_handler(void (*child)());

}  // namespace data_daemon_bridge::port
