#include "lib/frame_buffer.h"

#include <cstring>

namespace data_daemon_bridge {

namespace {

// True for the struct-module formats of an unsigned byte, with or without a byte-order prefix.
// A view without a format has unsigned bytes by definition.
bool is_unsigned_byte_format(const char* format) {
  if (format == nullptr) return true;
  if (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!') {
    ++format;
  }
  return std::strcmp(format, "B") == 0;
}

}  // namespace

bool FrameBuffer::acquire(PyObject* obj) {
  if (PyObject_GetBuffer(obj, &view_, PyBUF_FULL_RO) != 0) return false;
  held_ = true;
  const char* refusal = nullptr;
  if (view_.shape == nullptr) {
    refusal = "shape is null";
  } else if (view_.strides == nullptr) {
    refusal = "strides is null";
  } else if (view_.itemsize != 1 || !is_unsigned_byte_format(view_.format)) {
    refusal = "buffer contents are not compatible with u8";
  }
  if (refusal == nullptr) return true;
  release();
  PyErr_SetString(PyExc_BufferError, refusal);
  return false;
}

std::span<const uint8_t> FrameBuffer::bytes() const {
  return {static_cast<const uint8_t*>(view_.buf), static_cast<size_t>(view_.len)};
}

bool FrameBuffer::c_contiguous() const { return PyBuffer_IsContiguous(&view_, 'C') != 0; }

void FrameBuffer::release() {
  if (!held_) return;
  held_ = false;
  PyBuffer_Release(&view_);
}

}  // namespace data_daemon_bridge
