#include "port/thread_exit.h"

#include <unistd.h>

namespace data_daemon_bridge::port {

void park_thread_forever() {
  for (;;) pause();  // returns only after a signal handler ran; go back to sleep
}

}  // namespace data_daemon_bridge::port
