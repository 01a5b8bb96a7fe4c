// The entries of the eleven module functions, in table order. Each runs on the calling thread
// with the interpreter lock held: it binds and converts its arguments (arguments.h), checks their
// values, runs its body with the lock released (bodies.h, video_bodies.h), and returns a new
// reference or nullptr with an exception set. The table in function_table.cc wraps each one in
// the module boundary, which turns an escaping C++ exception into the panic exception.
#pragma once

#include <Python.h>

namespace data_daemon_bridge {

PyObject* start_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* log_joints(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* log_frame(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* log_json(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* stop_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* flush_source(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* cancel_recording(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* get_recording_id(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* wait_until_ready(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* daemon_version(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* refresh_config();

// The module's LoggingStalledError type (module.cc), for log_frame. Borrowed; valid once the
// module was initialised.
PyObject* logging_stalled_error();

}  // namespace data_daemon_bridge
