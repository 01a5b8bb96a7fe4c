// A private IPC namespace for one test process, so that tests running at the same time on one
// machine never meet on the daemon's fixed service names.
//
// The IPC library reads "config/iceoryx2.toml" relative to the working directory first, once per
// process, when the first node is made. enter_ipc_sandbox() makes a fresh directory holding such
// a file, with a file prefix of this process alone and the directory itself as the library's root
// for its service and node files, and changes into it; helper processes started
// afterwards inherit the directory and so share the namespace, and a test program among them
// (a death test's child, which starts in the original directory) joins it. When the process that
// made the sandbox exits, the directory and the namespace's shared-memory files that are left are
// removed.
//
// The directory is /tmp/ddb-ipc-<token>, made by mkdtemp, and the prefix "ddb<token>_": the
// Python tools make their sandboxes by the same rule in the same place (tools/ipc_sandbox.py),
// so that no two sandboxes that exist at the same time, of either kind, share a prefix.
#pragma once

namespace data_daemon_bridge::testing {

// REQUIRES: no IPC node was made yet in this process (later calls change nothing).
void enter_ipc_sandbox();

}  // namespace data_daemon_bridge::testing
