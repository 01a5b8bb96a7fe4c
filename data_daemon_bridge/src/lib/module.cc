// Import of `quillspan.data_daemon._data_bridge`: the module object, its functions, __all__ and
// LoggingStalledError, and the module's callback for the interpreter's exit (interpreter_exit.h).
// Nothing else starts at import; every other resource is made on first use.
//
// The module supports one interpreter per process: the first import records the interpreter's
// id, and an import from any other interpreter fails with ImportError. The module object is made
// once and handed out again by every later import in that interpreter.
#include "lib/module.h"

#include <atomic>

#include "data_daemon_shared/panic.h"
#include "lib/boundary.h"
#include "lib/function_table.h"
#include "lib/interpreter_exit.h"

namespace data_daemon_bridge {

using data_daemon_shared::panic;

namespace {

// Owner: the process. Written under the interpreter lock, by the first import.
std::atomic<int64_t> owning_interpreter{-1};
PyObject* MODULE_OBJECT = nullptr;         // strong reference, never released
PyObject* LOGGING_STALLED_TYPE = nullptr;  // strong reference, never released

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_data_bridge",
    "Python module entrypoint registered as `quillspan.data_daemon._data_bridge`.",
    0,        // no per-module state
    nullptr,  // functions are added by init_module, in order, together with __all__
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Returns the module's __all__ list, creating it empty when the module has none. Borrowed.
PyObject* all_list(PyObject* module) {
  PyObject* dict = PyModule_GetDict(module);
  PyObject* all = PyDict_GetItemString(dict, "__all__");
  if (all != nullptr) return all;
  PyObject* fresh = PyList_New(0);
  if (fresh == nullptr) return nullptr;
  const int set = PyDict_SetItemString(dict, "__all__", fresh);
  Py_DECREF(fresh);
  return set == 0 ? fresh : nullptr;
}

// Appends name to __all__ and sets the attribute: false with an error set on failure.
bool export_name(PyObject* module, PyObject* name, PyObject* value) {
  PyObject* all = all_list(module);
  if (all == nullptr) return false;
  if (!PyList_Check(all) || PyList_Append(all, name) != 0) {
    panic("could not append __name__ to __all__");
  }
  return PyObject_SetAttr(module, name, value) == 0;
}

bool add_functions(PyObject* module) {
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return false;
  bool ok = true;
  for (PyMethodDef& def : module_functions()) {
    PyObject* function = PyCFunction_NewEx(&def, module, module_name);
    PyObject* name = function == nullptr ? nullptr : PyObject_GetAttrString(function, "__name__");
    ok = name != nullptr && export_name(module, name, function);
    Py_XDECREF(name);
    Py_XDECREF(function);
    if (!ok) break;
  }
  Py_DECREF(module_name);
  return ok;
}

PyObject* create_logging_stalled_error() {
  if (LOGGING_STALLED_TYPE == nullptr) {
    LOGGING_STALLED_TYPE = PyErr_NewExceptionWithDoc(
        "_data_bridge.LoggingStalledError",
        "The daemon is not draining its on-disk spool backlog fast enough to admit a frame.",
        PyExc_RuntimeError, nullptr);
    if (LOGGING_STALLED_TYPE == nullptr) panic("Failed to initialize new exception type.");
  }
  return LOGGING_STALLED_TYPE;
}

bool add_logging_stalled_error(PyObject* module, PyObject* type) {
  PyObject* name = PyUnicode_FromString("LoggingStalledError");
  if (name == nullptr) return false;
  const bool ok = export_name(module, name, type);
  Py_DECREF(name);
  return ok;
}

bool init_module(PyObject* module) {
  return add_functions(module) && add_logging_stalled_error(module, create_logging_stalled_error());
}

PyObject* import_module() {
  const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id < 0) return nullptr;
  int64_t expected = -1;
  if (!owning_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "_data_bridge does not support subinterpreters: it can only be imported "
                    "into the first interpreter that imported it in this process");
    return nullptr;
  }
  if (!register_exit_callback()) return nullptr;
  if (MODULE_OBJECT == nullptr) {
    PyObject* module = PyModule_Create2(&module_def, PYTHON_API_VERSION);
    if (module == nullptr) return nullptr;
    if (!init_module(module)) {
      Py_DECREF(module);
      return nullptr;
    }
    MODULE_OBJECT = module;
  }
  Py_INCREF(MODULE_OBJECT);
  return MODULE_OBJECT;
}

}  // namespace

PyObject* logging_stalled_error() { return LOGGING_STALLED_TYPE; }

}  // namespace data_daemon_bridge

PyMODINIT_FUNC PyInit__data_bridge() {
  return data_daemon_bridge::at_boundary([] { return data_daemon_bridge::import_module(); });
}
