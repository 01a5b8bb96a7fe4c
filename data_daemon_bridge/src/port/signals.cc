#include "port/signals.h"

#include <pthread.h>
#include <signal.h>

namespace data_daemon_bridge::port {

void block_all_signals_on_this_thread() {
  sigset_t all;
  sigfillset(&all);
  (void)pthread_sigmask(SIG_BLOCK, &all, nullptr);  // fails only for an invalid argument
}

}  // namespace data_daemon_bridge::port
