// iceoryx2's own log messages, as events of the event facility.
#pragma once

namespace data_daemon_bridge {

// Routes iceoryx2's messages to emit_event: target "data_daemon_bridge::ipc", message "iceoryx2
// log", fields `origin` and `detail`; iceoryx2's trace, debug and info become DEBUG, warn WARN,
// error and fatal ERROR; warnings are forwarded only while the host has a sink installed, so
// that they never reach stderr by default. The binding itself never lets them reach the console.
// Idempotent; any thread.
void install_ipc_log_forwarding();

}  // namespace data_daemon_bridge
