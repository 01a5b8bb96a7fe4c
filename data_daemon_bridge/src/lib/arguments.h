// Binding the fast-call arguments of a module function to its parameters, and converting each
// parameter into an owned C++ value by its kind.
//
// Every conversion reports failure as false with a Python exception set. A TypeError raised while
// converting a parameter, whatever raised it, is replaced by TypeError "argument '<name>': <text>"
// carrying the original's cause; every other exception (OverflowError, UnicodeEncodeError,
// BufferError) is left as it is. Callers convert in parameter order and stop at the first
// failure, so an argument error always wins over the value checks that come after.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace data_daemon_bridge {

class FrameBuffer;

// A module function's parameters: all positional-or-keyword; the first `required` have no
// default, the others default to None.
struct Signature {
  const char* function;  // without "()"
  std::span<const char* const> params;
  size_t required;
};

inline constexpr size_t kMaxParams = 10;

class BoundArgs {
 public:
  // Binds args[0, nargs) and the keywords named by kwnames (whose values follow the positional
  // ones in args) to sig's parameters. False with the binding TypeError set when they do not fit.
  // REQUIRES: sig.params.size() <= kMaxParams; sig outlives this object.
  bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

  // Conversions of parameter i by kind. The optional kinds give nullopt for a parameter that was
  // not given or was given as None.
  bool text(size_t i, std::string& out) const;
  bool optional_text(size_t i, std::optional<std::string>& out) const;
  bool i64(size_t i, int64_t& out) const;
  bool optional_i64(size_t i, std::optional<int64_t>& out) const;
  bool u32(size_t i, uint32_t& out) const;
  bool f64(size_t i, double& out) const;
  bool optional_f64(size_t i, std::optional<double>& out) const;
  bool bytes(size_t i, std::vector<uint8_t>& out) const;
  bool float_list(size_t i, std::vector<double>& out) const;
  bool frame_buffer(size_t i, FrameBuffer& out) const;

 private:
  // The bound object of parameter i; panics when a required parameter is unbound, which bind()
  // rules out. nullptr for an optional parameter that was not given or is None.
  PyObject* required_arg(size_t i) const;
  PyObject* optional_arg(size_t i) const;
  // Converts parameter i with convert(obj, T&) unless it is missing or None.
  template <class T, class Convert>
  bool optional(size_t i, std::optional<T>& out, Convert convert) const;
  // Applies the TypeError rewrite for parameter i to a failed conversion; always false.
  bool failed(size_t i) const;

  const Signature* sig_ = nullptr;
  std::array<PyObject*, kMaxParams> objects_{};  // borrowed from the caller's argument vector
};

// The source that stop_recording, flush_source and cancel_recording name: robot_id and
// robot_instance, then, when the signature has a third parameter, the optional timestamp_ns.
struct SourceArgs {
  std::string robot_id;
  int64_t robot_instance = 0;
  std::optional<int64_t> timestamp_ns;
};

// Binds and converts a SourceArgs signature, then checks robot_id: false with the argument error
// or ValueError "robot_id must not be empty" set.
bool bind_source_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, SourceArgs& out);

// Binds and converts a signature of the one parameter timeout_s.
bool bind_timeout(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  double& timeout_s);

}  // namespace data_daemon_bridge
