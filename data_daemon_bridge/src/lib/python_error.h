// PythonError: a Python exception to raise later, as plain data. Bodies run with the interpreter
// lock released, where no Python object may be made; they return one of these, and the module
// function creates the exception object only after it holds the lock again (boundary.h).
#pragma once

#include <string>

#include "publisher/publisher_error.h"

namespace data_daemon_bridge {

enum class PythonErrorKind { RuntimeError, ValueError };

struct PythonError {
  PythonErrorKind kind;
  std::string text;  // the exception's single argument; UTF-8
};

inline PythonError runtime_error(std::string text) {
  return {PythonErrorKind::RuntimeError, std::move(text)};
}
inline PythonError value_error(std::string text) {
  return {PythonErrorKind::ValueError, std::move(text)};
}

// A daemon-link failure as Python sees it: RuntimeError with the error's display text.
inline PythonError publisher_error_to_pyerr(PublisherError error) {
  return runtime_error(publisher_error_text(error));
}

}  // namespace data_daemon_bridge
