// Signal masks of the module's own threads.
#pragma once

namespace data_daemon_bridge::port {

// Blocks every signal that can be blocked, on the calling thread only and for good: none of the
// host's handlers or default actions then runs on it. On Linux a write to a pipe or socket whose
// reader is gone sends SIGPIPE to the writing thread, so on a thread like this the write fails
// with EPIPE instead and the signal stays pending on that thread, never delivered.
void block_all_signals_on_this_thread();

}  // namespace data_daemon_bridge::port
