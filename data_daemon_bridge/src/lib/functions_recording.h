// The module functions that start a recording and re-read the configuration.
// What every entry guarantees is stated once, in function_table.h.
#pragma once

#include <Python.h>

namespace data_daemon_bridge {

PyObject* start_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* refresh_config();

}  // namespace data_daemon_bridge
