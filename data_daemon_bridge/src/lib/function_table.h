// The module's method table: the eleven functions in registration order, with their calling
// conventions and documentation (text signature, "--", blank line, description).
#pragma once

#include <Python.h>

#include <span>


namespace data_daemon_bridge {

// Eleven entries, no sentinel. Static storage: the builtin function objects point into it.
std::span<PyMethodDef> module_functions();

}  // namespace data_daemon_bridge
