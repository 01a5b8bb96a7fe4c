// The module's method table: the eleven functions in registration order, with their calling
// conventions and documentation (text signature, "--", blank line, description).
//
// The entries (functions_*.h) each run on the calling thread with the interpreter lock held: they
// bind and convert their arguments (arguments.h), check their values, run their bodies with the
// lock released, and return a new reference or nullptr with an exception set. The table wraps
// each one in the module boundary, which turns an escaping C++ exception into the panic
// exception.
#pragma once

#include <Python.h>

#include <span>

namespace data_daemon_bridge {

// Eleven entries, no sentinel. Static storage: the builtin function objects point into it.
std::span<PyMethodDef> module_functions();

}  // namespace data_daemon_bridge
