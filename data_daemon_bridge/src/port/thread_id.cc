#include "port/thread_id.h"

#include <pthread.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace data_daemon_bridge::port {

int64_t current_thread_id() {
#if defined(__APPLE__)
  uint64_t id = 0;
  if (pthread_threadid_np(pthread_self(), &id) != 0) return 0;
  return static_cast<int64_t>(id);
#elif defined(__linux__)
  // The raw system call rather than gettid(), which older C libraries do not declare.
  return static_cast<int64_t>(syscall(SYS_gettid));
#else
  return 0;
#endif
}

}  // namespace data_daemon_bridge::port
