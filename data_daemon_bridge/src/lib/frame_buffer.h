// FrameBuffer: the buffer view of a video frame's payload, held while one log_frame call checks
// and copies the pixels. Only the calling thread uses it, and only with the interpreter lock held:
// acquired during argument conversion, released by release() before anything is raised or the
// body runs, and by the destructor on every other path, unless abandoned.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace data_daemon_bridge {

class FrameBuffer {
 public:
  FrameBuffer() = default;
  ~FrameBuffer() { release(); }
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  // Takes a read-only view of obj's buffer. The view must have a shape and strides and hold
  // unsigned single-byte items. On failure returns false with the interpreter's TypeError (obj
  // offers no buffer) or a BufferError set, and holds nothing.
  // REQUIRES: nothing is held yet; the interpreter lock is held.
  bool acquire(PyObject* obj);

  // REQUIRES: acquire() succeeded.
  std::span<const uint8_t> bytes() const;
  bool c_contiguous() const;

  // Releases the view; nothing once released. REQUIRES: the interpreter lock is held.
  void release();

  // Leaves the view unreleased, to the exiting process: for a thread that the interpreter ends
  // at exit while it runs without the lock (port/thread_exit.h), whose unwind must not touch the
  // view's object.
  void abandon() { held_ = false; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

}  // namespace data_daemon_bridge
