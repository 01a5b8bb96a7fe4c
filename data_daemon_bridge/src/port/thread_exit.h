// A thread ended from under the module's C++ frames by the platform's thread exit.
//
// The interpreter ends a thread that tries to take its lock back while it is finalizing: CPython
// 3.10 and 3.11 call pthread_exit, which glibc carries out as a forced unwind through every frame
// of the thread, C++ frames included (other C libraries end the thread without unwinding). A
// forced unwind must never be swallowed: a handler that catches it and returns aborts the process,
// and so does one that meets a noexcept frame on its way out. It is no C++ exception: a catch-all
// handler sees it with no exception object, which is how it is told apart here.
#pragma once

#include <exception>

namespace data_daemon_bridge::port {

// Blocks the calling thread for good: it holds no lock of the module and never runs again. The
// process ends around it.
[[noreturn]] void park_thread_forever();

// REQUIRES: called inside a catch handler. True when what is being handled is a thread exit (or
// another exception of no C++ type, which nothing of this module throws or lets through).
inline bool handling_thread_exit() { return !std::current_exception(); }

// Runs fn(). Should the thread be ended from inside fn by a forced unwind, the thread is parked
// where the unwind is caught, right around fn: the unwind is neither swallowed nor carried on, so
// nothing that called this function runs again on this thread and none of its destructors runs.
// C++ exceptions from fn pass unchanged.
template <class Fn>
void call_parking_on_thread_exit(Fn&& fn) {
  try {
    fn();
  } catch (...) {
    if (handling_thread_exit()) park_thread_forever();  // never leaves the handler
    throw;
  }
}

// REQUIRES: called inside a catch handler. Rethrows what is being handled when it is a thread
// exit, so that a catch-all handler lets it go on; returns otherwise.
inline void rethrow_if_thread_exit() {
  if (handling_thread_exit()) throw;
}

}  // namespace data_daemon_bridge::port
