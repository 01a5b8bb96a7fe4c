// The module functions of the sample path: joint frames, JSON samples and the end of a recording.
// What every entry guarantees is stated once, in function_table.h.
#pragma once

#include <Python.h>

namespace data_daemon_bridge {

PyObject* log_joints(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* log_json(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* stop_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace data_daemon_bridge
