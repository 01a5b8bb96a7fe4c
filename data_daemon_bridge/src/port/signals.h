// Signal masks of the module's own threads.
#pragma once

#include <signal.h>

namespace data_daemon_bridge::port {

// Every signal that can be blocked except those a thread raises itself by what it executes
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS). A fault blocked on the thread that
// causes it is not held back: the kernel kills the process with it at once, and no handler of
// the host (a crash reporter, a sanitizer) gets to run. Those stay with the host.
sigset_t asynchronous_signals();

// Blocks asynchronous_signals() on the calling thread only and for good: none of the host's
// handlers or default actions for them then runs on it. On Linux a write to a pipe or socket
// whose reader is gone sends SIGPIPE to the writing thread, so on a thread like this the write
// fails with EPIPE instead and the signal stays pending on that thread, never delivered.
void block_asynchronous_signals_on_this_thread();

// Blocks asynchronous_signals() on the calling thread while it lives and then restores the
// thread's mask: a thread started meanwhile inherits the blocked set, so it never runs a moment
// with the host's mask.
class AsynchronousSignalsBlocked {
 public:
  AsynchronousSignalsBlocked();
  ~AsynchronousSignalsBlocked();
  AsynchronousSignalsBlocked(const AsynchronousSignalsBlocked&) = delete;
  AsynchronousSignalsBlocked& operator=(const AsynchronousSignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace data_daemon_bridge::port
