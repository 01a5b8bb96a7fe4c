#include "lib/boundary.h"

#include <cstdio>
#include <cstdlib>

namespace data_daemon_bridge {

namespace {

PyObject* exception_kind(PythonErrorKind kind) {
  switch (kind) {
    case PythonErrorKind::RuntimeError: return PyExc_RuntimeError;
    case PythonErrorKind::ValueError: return PyExc_ValueError;
  }
  return PyExc_RuntimeError;
}

// Decodes text as UTF-8, replacing what is not; the texts come from this module and from the
// IPC library and are UTF-8 in practice, but a malformed one must not hide the error it carries.
PyObject* python_text(const std::string& text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

}  // namespace

void retake_gil(PyThreadState* state) {
  // No check of the interpreter's state first: only the interpreter knows which thread is the
  // finalizing one, which must get the lock (a finalizer of an object may call the module).
  port::call_parking_on_thread_exit([state] { PyEval_RestoreThread(state); });
}

PyObject* raise(const PythonError& error) {
  PyObject* text = python_text(error.text);
  if (text == nullptr) return nullptr;
  PyErr_SetObject(exception_kind(error.kind), text);
  Py_DECREF(text);
  return nullptr;
}

PyObject* panic_exception_type() {
  // Owner: the process; created under the interpreter lock and never released.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "_data_bridge.InvariantPanic",
        "An internal invariant of the data bridge was broken and the operation was abandoned.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

PyObject* raise_panic(const char* text) {
  // The panic replaces whatever error was pending, and the type's first creation needs none.
  PyErr_Clear();
  PyObject* type = panic_exception_type();
  if (type == nullptr) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
  PyObject* message = python_text(text);
  if (message == nullptr) return nullptr;
  PyErr_SetObject(type, message);
  Py_DECREF(message);
  return nullptr;
}

}  // namespace data_daemon_bridge
