// The module's part of the interpreter's exit.
//
// Two things of the module wait when the process exits: the release grace that lets the daemon
// take the last commands of the exiting thread (publisher/ipc_handles.h), and the flush of the
// queued event lines (events/stderr_sink.h). Both run from a callback of Python's atexit,
// registered when the module is imported, so that they happen while the interpreter is still
// whole and with its lock released. Nothing of the module waits after the callback.
//
// Why not later, in the process's own exit: CPython 3.10 lets a daemon thread that was already
// waiting for the interpreter lock when finalization began go on waking inside that wait, and
// each time it writes into the interpreter's state, which finalization frees. That is harmless
// only while the process ends right after finalization; a thread-local destructor sleeping out
// the grace there gave such a thread half a second of writes into freed memory.
#pragma once

#include <Python.h>

namespace data_daemon_bridge {

// Registers the callback with atexit, once per process. False with an exception set when the
// interpreter refuses. REQUIRES: the interpreter lock is held.
bool register_exit_callback();

}  // namespace data_daemon_bridge
