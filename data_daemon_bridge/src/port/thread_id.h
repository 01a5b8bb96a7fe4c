// The system's 64-bit id of the calling thread.
//
// It names chunk files and travels to the daemon, so it must stay the same for the thread's whole
// life and differ between threads alive at the same time: the kernel thread id on Linux
// (gettid), the system-wide thread id on macOS (pthread_threadid_np).
#pragma once

#include <cstdint>

namespace data_daemon_bridge::port {

// 0 when the platform cannot tell. Any thread may call.
int64_t current_thread_id();

}  // namespace data_daemon_bridge::port
