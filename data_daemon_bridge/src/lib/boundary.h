// The edge between the interpreter and the module's C++ code: releasing and retaking the
// interpreter lock around a body, raising the errors that bodies return, and catching every C++
// exception before it can cross into the interpreter.
#pragma once

#include <exception>
#include <utility>

#include "lib/python.h"
#include "lib/python_error.h"

namespace data_daemon_bridge {

// Releases the interpreter lock for its lifetime. REQUIRES: the calling thread holds the lock.
// The destructor retakes it, also while an exception unwinds through the scope, so that the
// boundary below always runs with the lock held. Nothing inside the scope may touch a Python
// object.
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  ~GilReleased() { PyEval_RestoreThread(state_); }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

 private:
  PyThreadState* state_;
};

// Runs body() with the interpreter lock released and returns its result, with the lock held again.
template <class Body>
decltype(auto) without_gil(Body&& body) {
  GilReleased released;
  return std::forward<Body>(body)();
}

// Sets the exception that error describes. Always returns nullptr, for `return raise(...)`.
PyObject* raise(const PythonError& error);

// Sets the module's panic exception with text, creating its type on first use. Returns nullptr.
// Should even that fail, the process ends with "uncaught panic at ffi boundary".
PyObject* raise_panic(const char* text);

// The panic exception type: a direct subclass of BaseException, kept out of the module's
// namespace. Created on first use; nullptr with an exception set if the interpreter refuses.
PyObject* panic_exception_type();

// Runs the entry's work; any C++ exception that escapes it (a Panic from panic(), or
// anything else a library throws) becomes the panic exception. REQUIRES: the interpreter lock is
// held on entry; it is held again whenever this returns.
template <class Work>
PyObject* at_boundary(Work&& work) noexcept {
  try {
    return std::forward<Work>(work)();
  } catch (const std::exception& e) {
    return raise_panic(e.what());
  } catch (...) {
    return raise_panic("unknown exception at the module boundary");
  }
}

}  // namespace data_daemon_bridge
