// PixelBytes: the memory of a frame's pixels, from log_frame's copy to the end of its encoding.
//
// A frame's pixels are allocated on the calling thread and released on a compression thread.
// Through the C library's allocator such buffers, megabytes each and from several threads, land
// in per-thread arenas that keep what is released (a three-camera burst left the process some
// 300 MiB larger for good, and 1.8 times the writer queue's cap at its peak). So a large buffer
// is a mapping of its own instead: released, it goes back to the system at once, unless a small
// pool of idle mappings keeps it for the next frame of that size, which then costs no page
// faults. The pool keeps a mapping only while every frame buffer in use plus the idle ones stay
// within MAX_QUEUED_FRAME_BYTES, so under overload nothing is kept beyond the frames themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace data_daemon_bridge {

namespace pixel_memory {

// Buffers of at least this many bytes are mappings of their own; smaller ones come from the C
// library's allocator.
inline constexpr size_t kMappedFrom = size_t{1} << 20;
// The most bytes and mappings the pool keeps idle.
inline constexpr size_t kMaxIdleBytes = size_t{64} << 20;
inline constexpr size_t kIdleSlots = 8;

// Any thread. allocate throws std::bad_alloc when no memory is left; bytes is not zero. REQUIRES
// of deallocate: p came from allocate(bytes).
void* allocate(size_t bytes);
void deallocate(void* p, size_t bytes) noexcept;

// What the pool holds, for tests: bytes of the mappings in use and idle.
struct Usage {
  uint64_t in_use_bytes;
  uint64_t idle_bytes;
};
Usage usage();

// Tests: unmaps every idle mapping, so that a test starts from an empty pool.
void release_idle_for_testing();

// Tests: pause() runs in every release of a mapping after the pool's counts are read and before
// the change they allow is made, so that a test can run another allocation or release in
// between. nullptr: none. Set it while no mapping is being released.
void set_release_pause_for_testing(void (*pause)());

}  // namespace pixel_memory

// One frame's pixel bytes: a buffer of a fixed size, filled once by copying, from pixel_memory.
// Move-only; any thread may release it.
class PixelBytes {
 public:
  PixelBytes() = default;
  // A copy of bytes.
  explicit PixelBytes(std::span<const uint8_t> bytes);
  ~PixelBytes() { release(); }
  PixelBytes(PixelBytes&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  PixelBytes& operator=(PixelBytes&& other) noexcept;
  PixelBytes(const PixelBytes&) = delete;
  PixelBytes& operator=(const PixelBytes&) = delete;

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const uint8_t* begin() const { return data_; }
  const uint8_t* end() const { return data_ + size_; }

 private:
  void release();

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace data_daemon_bridge
