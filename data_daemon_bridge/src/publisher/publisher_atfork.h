// Fork safety of the daemon link: a child process never uses or releases the handle set or the
// data publisher sending end its forking thread inherited.
#pragma once

#include "concurrency/fork_child_handler.h"

namespace data_daemon_bridge {

// PUBLISHER_ATFORK_ONCE: publisher_atfork_child as the child-side fork handler, registered at most
// once per process. When the registration fails it logs the WARN event "pthread_atfork
// registration failed; fork-safety relies on caller-managed cleanup" (target
// data_daemon_bridge::publisher, field errno) and nothing else: handle sets are built all the
// same, and the data publisher caches no sending end, so that every call takes its slow path,
// which compares the process id.
extern ForkChildHandler PUBLISHER_ATFORK_ONCE;

// PUBLISHER_ATFORK_ONCE.register_once(): only the first call in the process registers (a thread
// that arrives meanwhile waits for it); returns the outcome on every call. open_ipc_handles runs
// it before its first node is created, get_or_spawn_data_publisher before it first caches a
// sending end.
bool register_publisher_atfork();

// Runs in the child right after fork, on the forking thread (the child's only thread): empties
// that thread's IPC_HANDLES without releasing the inherited set, so nothing the parent
// registered with the IPC library is disturbed. The child's next publish or query builds a new
// set with a new node. Likewise empties the thread's PUBLISHER_SENDER_CACHE without releasing
// the inherited end, so the child's next sample starts a data publisher of its own.
void publisher_atfork_child();

}  // namespace data_daemon_bridge
