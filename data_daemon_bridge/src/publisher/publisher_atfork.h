// Fork safety of the command link: a child process never uses or releases the handle set its
// forking thread inherited.
#pragma once

namespace data_daemon_bridge {

// Registers publisher_atfork_child as a child-side fork handler. On failure logs the WARN event
// "pthread_atfork registration failed; fork-safety relies on caller-managed cleanup" (target
// data_daemon_bridge::publisher, field errno) and nothing else. open_ipc_handles runs it once
// per process, before its first node is created.
void register_publisher_atfork();

// Runs in the child right after fork, on the forking thread (the child's only thread): empties
// that thread's IPC_HANDLES without releasing the inherited set, so nothing the parent
// registered with the IPC library is disturbed. The child's next publish or query builds a new
// set with a new node.
void publisher_atfork_child();

}  // namespace data_daemon_bridge
