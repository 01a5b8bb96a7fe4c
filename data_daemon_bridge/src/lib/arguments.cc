#include "lib/arguments.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "data_daemon_shared/panic.h"
#include "lib/frame_buffer.h"

namespace data_daemon_bridge {

using data_daemon_shared::panic;

namespace {

// The qualified name of obj's type, as a new str reference (nullptr with an error set). Read
// from the type object itself, as the interpreter does for its own messages: looking up
// __qualname__ as an attribute would run a metaclass's code, which may raise or return anything.
PyObject* type_qualname(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  if (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) {
    // A class statement's type: the interpreter keeps its __qualname__ here, always a str.
    PyObject* qualname = reinterpret_cast<PyHeapTypeObject*>(type)->ht_qualname;
    if (qualname != nullptr && PyUnicode_Check(qualname)) {
      Py_INCREF(qualname);
      return qualname;
    }
  }
  // A static type's name is "module.qualname" or just "qualname".
  const char* dot = std::strrchr(type->tp_name, '.');
  return PyUnicode_FromString(dot == nullptr ? type->tp_name : dot + 1);
}

// TypeError "'<type>' object cannot be converted to '<target>'"; returns false.
bool cannot_convert(PyObject* obj, const char* target) {
  PyObject* name = type_qualname(obj);
  if (name == nullptr) return false;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name, target);
  Py_DECREF(name);
  return false;
}

bool convert_text(PyObject* obj, std::string& out) {
  if (!PyUnicode_Check(obj)) return cannot_convert(obj, "PyString");
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);  // UnicodeEncodeError for surrogates
  if (utf8 == nullptr) return false;
  out.assign(utf8, static_cast<size_t>(size));
  return true;
}

bool convert_i64(PyObject* obj, int64_t& out) {
  static_assert(sizeof(long long) == sizeof(int64_t));
  const long long value = PyLong_AsLongLong(obj);
  if (value == -1 && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool convert_f64(PyObject* obj, double& out) {
  if (PyFloat_CheckExact(obj)) {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) return false;
  out = value;
  return true;
}

// The most items a float list reserves before it has read them: 512 KiB of doubles, far more
// joints than a robot has.
constexpr size_t kMaxReservedValues = 64 * 1024;

bool convert_float_list(PyObject* obj, std::vector<double>& out) {
  if (PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(obj)) return cannot_convert(obj, "Sequence");
  // The length only sizes the vector up front; iteration decides what is converted. It is
  // bounded, since a sequence's __len__ may claim anything, and a length that cannot be read is
  // ignored, unless reading it was interrupted (KeyboardInterrupt, SystemExit, ...).
  const Py_ssize_t length = PySequence_Size(obj);
  if (length < 0) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
  } else {
    out.reserve(std::min(static_cast<size_t>(length), kMaxReservedValues));
  }
  PyObject* iterator = PyObject_GetIter(obj);
  if (iterator == nullptr) return false;
  bool ok = true;
  while (PyObject* item = PyIter_Next(iterator)) {
    double value = 0;
    ok = convert_f64(item, value);
    Py_DECREF(item);
    if (!ok) break;
    out.push_back(value);
  }
  Py_DECREF(iterator);
  return ok && !PyErr_Occurred();
}

// The text of a raised exception, as a new str reference: str(error), or, when its __str__
// itself fails, the placeholder the interpreter prints in such a traceback, so that the error
// that was raised is still the one reported. An interruption (KeyboardInterrupt, SystemExit, ...)
// raised by __str__ is not swallowed: nullptr with it set.
PyObject* exception_text(PyObject* error) {
  if (PyObject* text = PyObject_Str(error)) return text;
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
  PyErr_Clear();
  return PyUnicode_FromString("<exception str() failed>");
}

// "a", "a' and 'b", "a', 'b', and 'c" inside the outer quotes: the missing names as listed.
std::string join_missing(const std::vector<const char*>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

}  // namespace

bool BoundArgs::bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
  if (sig.params.size() > kMaxParams) panic("too many parameters for BoundArgs");
  sig_ = &sig;
  objects_.fill(nullptr);
  const size_t count = sig.params.size();
  const size_t given = static_cast<size_t>(nargs);
  if (given > count) {
    const char* verb = given == 1 ? "was" : "were";
    if (sig.required == count) {
      PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zu %s given",
                   sig.function, count, given, verb);
    } else {
      PyErr_Format(PyExc_TypeError,
                   "%s() takes from %zu to %zu positional arguments but %zu %s given", sig.function,
                   sig.required, count, given, verb);
    }
    return false;
  }
  for (size_t i = 0; i < given; ++i) objects_[i] = args[i];

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    size_t index = count;
    for (size_t i = 0; i < count && PyUnicode_Check(key); ++i) {
      if (PyUnicode_CompareWithASCIIString(key, sig.params[i]) == 0) {
        index = i;
        break;
      }
    }
    if (index == count) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", sig.function,
                   key);
      return false;
    }
    if (objects_[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.function,
                   sig.params[index]);
      return false;
    }
    objects_[index] = args[nargs + k];
  }

  std::vector<const char*> missing;
  for (size_t i = 0; i < sig.required; ++i) {
    if (objects_[i] == nullptr) missing.push_back(sig.params[i]);
  }
  if (!missing.empty()) {
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s",
                 sig.function, missing.size(), missing.size() == 1 ? "" : "s",
                 join_missing(missing).c_str());
    return false;
  }
  return true;
}

PyObject* BoundArgs::required_arg(size_t i) const {
  if (sig_ == nullptr || i >= sig_->params.size() || objects_[i] == nullptr) {
    panic("argument conversion of a parameter that was not bound");
  }
  return objects_[i];
}

PyObject* BoundArgs::optional_arg(size_t i) const {
  if (sig_ == nullptr || i >= sig_->params.size()) panic("argument index out of range");
  return objects_[i] == Py_None ? nullptr : objects_[i];
}

bool BoundArgs::failed(size_t i) const {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) panic("argument conversion failed without an exception");
  PyErr_NormalizeException(&type, &value, &traceback);
  if (!PyErr_GivenExceptionMatches(type, PyExc_TypeError)) {
    PyErr_Restore(type, value, traceback);
    return false;
  }
  PyObject* cause = PyException_GetCause(value);  // new reference or nullptr
  PyObject* text = exception_text(value);
  PyObject* renamed =
      text == nullptr ? nullptr : PyUnicode_FromFormat("argument '%s': %U", sig_->params[i], text);
  Py_XDECREF(text);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  PyObject* replacement =
      renamed == nullptr ? nullptr : PyObject_CallOneArg(PyExc_TypeError, renamed);
  Py_XDECREF(renamed);
  if (replacement == nullptr) {
    Py_XDECREF(cause);
    return false;
  }
  if (cause != nullptr) PyException_SetCause(replacement, cause);  // steals cause
  PyErr_SetObject(PyExc_TypeError, replacement);
  Py_DECREF(replacement);
  return false;
}

template <class T, class Convert>
bool BoundArgs::optional(size_t i, std::optional<T>& out, Convert convert) const {
  PyObject* obj = optional_arg(i);
  if (obj == nullptr) {
    out.reset();
    return true;
  }
  return convert(obj, out.emplace()) || failed(i);
}

bool BoundArgs::text(size_t i, std::string& out) const {
  return convert_text(required_arg(i), out) || failed(i);
}

bool BoundArgs::optional_text(size_t i, std::optional<std::string>& out) const {
  return optional(i, out, convert_text);
}

bool BoundArgs::i64(size_t i, int64_t& out) const {
  return convert_i64(required_arg(i), out) || failed(i);
}

bool BoundArgs::optional_i64(size_t i, std::optional<int64_t>& out) const {
  return optional(i, out, convert_i64);
}

bool BoundArgs::u32(size_t i, uint32_t& out) const {
  int64_t value = 0;
  if (!convert_i64(required_arg(i), value)) return failed(i);
  if (value < 0 || value > int64_t{std::numeric_limits<uint32_t>::max()}) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  out = static_cast<uint32_t>(value);
  return true;
}

bool BoundArgs::f64(size_t i, double& out) const {
  return convert_f64(required_arg(i), out) || failed(i);
}

bool BoundArgs::optional_f64(size_t i, std::optional<double>& out) const {
  return optional(i, out, convert_f64);
}

bool BoundArgs::bytes(size_t i, std::vector<uint8_t>& out) const {
  PyObject* obj = required_arg(i);
  if (!PyBytes_Check(obj)) return cannot_convert(obj, "PyBytes") || failed(i);
  const auto* data = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(obj));
  out.assign(data, data + PyBytes_GET_SIZE(obj));
  return true;
}

bool BoundArgs::float_list(size_t i, std::vector<double>& out) const {
  out.clear();
  return convert_float_list(required_arg(i), out) || failed(i);
}

bool BoundArgs::frame_buffer(size_t i, FrameBuffer& out) const {
  return out.acquire(required_arg(i)) || failed(i);
}

bool bind_source_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, SourceArgs& out) {
  BoundArgs bound;
  if (!bound.bind(sig, args, nargs, kwnames) || !bound.text(0, out.robot_id) ||
      !bound.i64(1, out.robot_instance) ||
      (sig.params.size() > 2 && !bound.optional_i64(2, out.timestamp_ns))) {
    return false;
  }
  if (out.robot_id.empty()) {
    PyErr_SetString(PyExc_ValueError, "robot_id must not be empty");
    return false;
  }
  return true;
}

bool bind_timeout(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  double& timeout_s) {
  BoundArgs bound;
  return bound.bind(sig, args, nargs, kwnames) && bound.f64(0, timeout_s);
}

}  // namespace data_daemon_bridge
