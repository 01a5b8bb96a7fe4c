#include "port/fork.h"

#include <pthread.h>

namespace data_daemon_bridge::port {

int register_fork_child_handler(void (*child)()) { return pthread_atfork(nullptr, nullptr, child); }

}  // namespace data_daemon_bridge::port
