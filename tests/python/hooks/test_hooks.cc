// _bridge_test_hooks: a test-only extension module that drives the module boundary through its
// failure path. The real functions reach that path only through a broken invariant, which a
// test cannot provoke; these hooks share the boundary's code (src/lib/boundary.cc) and throw on
// purpose, with the interpreter lock held or released.
#include <string>

#include "data_daemon_shared/panic.h"
#include "lib/boundary.h"

namespace {

using data_daemon_bridge::at_boundary;
using data_daemon_bridge::without_gil;
using data_daemon_shared::panic;

// panic_without_gil(text): panics with text inside a body that runs with the lock released.
PyObject* panic_without_gil(PyObject*, PyObject* text) {
  return at_boundary([&]() -> PyObject* {
    const char* utf8 = PyUnicode_AsUTF8(text);
    if (utf8 == nullptr) return nullptr;
    const std::string message = utf8;
    without_gil([&] { panic(message); });
    Py_RETURN_NONE;
  });
}

// panic_with_gil(text): panics with text while the lock is held.
PyObject* panic_with_gil(PyObject*, PyObject* text) {
  return at_boundary([&]() -> PyObject* {
    const char* utf8 = PyUnicode_AsUTF8(text);
    if (utf8 == nullptr) return nullptr;
    panic(utf8);
  });
}

// panic_replacing_error(factory): sets a RuntimeError carrying factory()'s result as the pending
// error, the result's only holder, then panics with the lock held: raising the panic replaces
// that error, and so runs the result's finalizer inside the raise.
PyObject* panic_replacing_error(PyObject*, PyObject* factory) {
  return at_boundary([&]() -> PyObject* {
    PyObject* value = PyObject_CallNoArgs(factory);
    if (value == nullptr) return nullptr;
    PyErr_SetObject(PyExc_RuntimeError, value);
    Py_DECREF(value);
    panic("failed on purpose");
  });
}

// panic_type(): the panic exception type.
PyObject* panic_type(PyObject*, PyObject*) {
  PyObject* type = data_daemon_bridge::panic_exception_type();
  Py_XINCREF(type);
  return type;
}

PyMethodDef methods[] = {
    {"panic_without_gil", &panic_without_gil, METH_O, nullptr},
    {"panic_with_gil", &panic_with_gil, METH_O, nullptr},
    {"panic_replacing_error", &panic_replacing_error, METH_O, nullptr},
    {"panic_type", &panic_type, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_bridge_test_hooks",
    nullptr,
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__bridge_test_hooks() { return PyModule_Create(&module_def); }
