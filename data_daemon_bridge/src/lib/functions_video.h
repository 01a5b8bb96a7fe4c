// The module functions of the video path: a camera frame, and the flush and cancel barriers.
// What every entry guarantees is stated once, in function_table.h.
#pragma once

#include <Python.h>

namespace data_daemon_bridge {

PyObject* log_frame(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* flush_source(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* cancel_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace data_daemon_bridge
