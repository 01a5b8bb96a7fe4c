// The module object's own state, kept for the functions.
#pragma once

#include <Python.h>

namespace data_daemon_bridge {

// The module's LoggingStalledError type, for log_frame. Borrowed; valid once the module was
// initialised.
PyObject* logging_stalled_error();

}  // namespace data_daemon_bridge
