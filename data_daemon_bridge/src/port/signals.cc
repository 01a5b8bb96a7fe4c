#include "port/signals.h"

#include <pthread.h>

#include <initializer_list>

namespace data_daemon_bridge::port {

sigset_t asynchronous_signals() {
  sigset_t set;
  sigfillset(&set);
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&set, fault);
  return set;
}

// pthread_sigmask fails only for an invalid argument.
void block_asynchronous_signals_on_this_thread() {
  const sigset_t set = asynchronous_signals();
  (void)pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

AsynchronousSignalsBlocked::AsynchronousSignalsBlocked() {
  const sigset_t set = asynchronous_signals();
  sigemptyset(&saved_);
  (void)pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

AsynchronousSignalsBlocked::~AsynchronousSignalsBlocked() {
  (void)pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace data_daemon_bridge::port
