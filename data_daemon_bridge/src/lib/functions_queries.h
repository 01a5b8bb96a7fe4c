// The module functions that ask the daemon: the recording id, readiness and its version.
// What every entry guarantees is stated once, in function_table.h.
#pragma once

#include <Python.h>

namespace data_daemon_bridge {

PyObject* get_recording_id(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* wait_until_ready(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* daemon_version(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace data_daemon_bridge
