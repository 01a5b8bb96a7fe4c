// The edge between the interpreter and the module's C++ code: releasing and retaking the
// interpreter lock around a body, raising the errors that bodies return, and catching every C++
// exception before it can cross into the interpreter.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <type_traits>
#include <utility>

#include "lib/python_error.h"
#include "port/thread_exit.h"

namespace data_daemon_bridge {

// Takes the interpreter lock back after a body ran without it. REQUIRES: state is what
// PyEval_SaveThread returned on this thread. While the interpreter is finalizing, a thread other
// than the finalizing one is ended by the interpreter as it asks for the lock; such a thread is
// parked here instead (port/thread_exit.h), so it never runs Python again, never unwinds through
// its callers' frames and never ends the process. The finalizing thread itself gets the lock.
void retake_gil(PyThreadState* state);

// body() with the interpreter lock released, the lock being that of state. An exception that
// escapes body() is rethrown with the lock held again, so that the boundary below always runs
// with it; a thread exit is let go as it is (bodies are never ended from inside, but it is never
// swallowed).
//
// The lock is taken back after the handler that caught the exception has been left: at exit,
// taking it may end this thread by a forced unwind, and one that meets an active handler ends the
// process instead (retake_gil parks the thread, which needs no handler to be active around it).
template <class Body>
decltype(auto) call_released(PyThreadState* state, Body&& body) {
  std::exception_ptr failure;
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    port::rethrow_if_thread_exit();
    failure = std::current_exception();
  }
  retake_gil(state);
  std::rethrow_exception(std::move(failure));
}

// Runs body() with the interpreter lock released and returns its result with the lock held again.
// Nothing body() does may touch a Python object. REQUIRES: the calling thread holds the lock.
template <class Body>
decltype(auto) without_gil(Body&& body) {
  PyThreadState* state = PyEval_SaveThread();
  if constexpr (std::is_void_v<std::invoke_result_t<Body>>) {
    call_released(state, std::forward<Body>(body));
    retake_gil(state);
  } else {
    auto result = call_released(state, std::forward<Body>(body));
    retake_gil(state);
    return result;
  }
}

// Sets the exception that error describes. Always returns nullptr, for `return raise(...)`.
PyObject* raise(const PythonError& error);

// Sets the module's panic exception with text, in place of any error pending, creating its type on
// first use. Returns nullptr.
// Should even that fail, the process ends with "uncaught panic at ffi boundary".
PyObject* raise_panic(const char* text);

// The panic exception type: a direct subclass of BaseException, kept out of the module's
// namespace. Created on first use; nullptr with an exception set if the interpreter refuses.
PyObject* panic_exception_type();

// Runs the entry's work; any C++ exception that escapes it (a Panic from panic(), or
// anything else a library throws) becomes the panic exception, except that memory running out
// (std::bad_alloc: an allocation, or a mapping for a frame's pixels) is MemoryError, which callers
// can catch and retry once memory is back. REQUIRES: the interpreter lock is held on entry; it is
// held again whenever this returns.
//
// The exception is raised once the handler that caught the C++ one has been left: raising
// allocates, an allocation can run a finalizer's Python code, and a thread the interpreter ends
// there (at exit) must not meet an active handler, which would end the process.
//
// Not noexcept, and neither are the entries around it: Python code that the work runs (a
// conversion calling a type's own __index__, say) can be ended by the interpreter at exit, and
// that thread exit unwinds through here into the interpreter's frames (port/thread_exit.h).
template <class Work>
PyObject* at_boundary(Work&& work) {
  std::exception_ptr caught;         // keeps the exception, and so its what() text, alive
  const char* panic_text = nullptr;  // stays null for memory running out
  try {
    return std::forward<Work>(work)();
  } catch (const std::bad_alloc&) {
  } catch (const std::exception& e) {
    caught = std::current_exception();
    panic_text = e.what();
  } catch (...) {
    port::rethrow_if_thread_exit();
    panic_text = "unknown exception at the module boundary";
  }
  return panic_text == nullptr ? PyErr_NoMemory() : raise_panic(panic_text);
}

}  // namespace data_daemon_bridge
