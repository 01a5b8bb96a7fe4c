#include "lib/interpreter_exit.h"

#include "events/stderr_sink.h"
#include "lib/boundary.h"
#include "publisher/ipc_handles_cell.h"

namespace data_daemon_bridge {

namespace {

// Runs on the thread that finalizes the interpreter (the main thread, as a rule), before the
// finalization, with the interpreter lock held. Callbacks registered after the import run before
// it, so the commands an SDK sends from its own exit callback are covered by the grace; commands
// sent after it go on sets that are kept instead of released, and still reach the daemon.
PyObject* prepare_for_exit(PyObject* /*self*/, PyObject* /*unused*/) {
  return at_boundary([] {
    without_gil([] {
      prepare_ipc_handles_for_exit();
      flush_event_lines_for_exit();
    });
    Py_RETURN_NONE;
  });
}

PyMethodDef prepare_for_exit_def = {"_data_bridge_prepare_for_exit", &prepare_for_exit, METH_NOARGS,
                                    nullptr};

// Owner: the process; written under the interpreter lock.
bool EXIT_CALLBACK_REGISTERED = false;

}  // namespace

bool register_exit_callback() {
  if (EXIT_CALLBACK_REGISTERED) return true;
  PyObject* atexit = PyImport_ImportModule("atexit");
  if (atexit == nullptr) return false;
  PyObject* callback = PyCFunction_New(&prepare_for_exit_def, nullptr);
  PyObject* registered =
      callback == nullptr ? nullptr : PyObject_CallMethod(atexit, "register", "O", callback);
  Py_XDECREF(registered);
  Py_XDECREF(callback);
  Py_DECREF(atexit);
  EXIT_CALLBACK_REGISTERED = registered != nullptr;
  return EXIT_CALLBACK_REGISTERED;
}

}  // namespace data_daemon_bridge
