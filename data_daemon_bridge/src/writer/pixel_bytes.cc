#include "writer/pixel_bytes.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <new>

#include "writer/writer_queue.h"

namespace data_daemon_bridge::pixel_memory {

namespace {

// A mapping starts with its header; the buffer follows it, 64-byte aligned.
struct Header {
  size_t length;  // of the whole mapping
};
constexpr size_t kHeaderBytes = 64;
static_assert(sizeof(Header) <= kHeaderBytes);

// Owner: the process. Lock-free, so that a forked child inherits a pool it can use at once: the
// idle mappings are copied into the child like any memory, and no lock can be left held.
std::array<std::atomic<Header*>, kIdleSlots> idle_slots{};
std::atomic<uint64_t> in_use_bytes{0};  // lengths of the mappings handed out
std::atomic<uint64_t> idle_bytes{0};    // lengths of the mappings in idle_slots

size_t mapping_length(size_t bytes) {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return (bytes + kHeaderBytes + page - 1) / page * page;
}

void unmap(Header* mapping) { munmap(mapping, mapping->length); }

// An idle mapping of at least length bytes and not much more, taken out of the pool; nullptr
// when there is none.
Header* take_idle(size_t length) {
  for (std::atomic<Header*>& slot : idle_slots) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    Header* mapping = slot.exchange(nullptr, std::memory_order_acquire);
    if (mapping == nullptr) continue;
    if (mapping->length >= length && mapping->length - length <= length / 4) {
      idle_bytes.fetch_sub(mapping->length, std::memory_order_relaxed);
      return mapping;
    }
    // Not this size: back where it was, or gone if another mapping took the slot meanwhile.
    Header* empty = nullptr;
    if (!slot.compare_exchange_strong(empty, mapping, std::memory_order_release)) {
      idle_bytes.fetch_sub(mapping->length, std::memory_order_relaxed);
      unmap(mapping);
    }
  }
  return nullptr;
}

// Keeps the mapping idle if the pool may grow by it; false when it must be unmapped.
bool keep_idle(Header* mapping) {
  const uint64_t idle = idle_bytes.load(std::memory_order_relaxed);
  const uint64_t in_use = in_use_bytes.load(std::memory_order_relaxed);
  if (idle + mapping->length > kMaxIdleBytes ||
      in_use + idle + mapping->length > MAX_QUEUED_FRAME_BYTES) {
    return false;
  }
  for (std::atomic<Header*>& slot : idle_slots) {
    Header* empty = nullptr;
    if (slot.compare_exchange_strong(empty, mapping, std::memory_order_release)) {
      idle_bytes.fetch_add(mapping->length, std::memory_order_relaxed);
      return true;
    }
  }
  return false;
}

}  // namespace

void* allocate(size_t bytes) {
  if (bytes < kMappedFrom) return ::operator new(bytes);
  const size_t length = mapping_length(bytes);
  Header* mapping = take_idle(length);
  if (mapping == nullptr) {
    void* fresh = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
    if (fresh == MAP_FAILED) throw std::bad_alloc();
    mapping = static_cast<Header*>(fresh);
    mapping->length = length;
  }
  in_use_bytes.fetch_add(mapping->length, std::memory_order_relaxed);
  return reinterpret_cast<uint8_t*>(mapping) + kHeaderBytes;
}

void deallocate(void* p, size_t bytes) noexcept {
  if (bytes < kMappedFrom) {
    ::operator delete(p);
    return;
  }
  auto* mapping = reinterpret_cast<Header*>(static_cast<uint8_t*>(p) - kHeaderBytes);
  in_use_bytes.fetch_sub(mapping->length, std::memory_order_relaxed);
  if (!keep_idle(mapping)) unmap(mapping);
}

void release_idle_for_testing() {
  for (std::atomic<Header*>& slot : idle_slots) {
    if (Header* mapping = slot.exchange(nullptr, std::memory_order_acquire)) {
      idle_bytes.fetch_sub(mapping->length, std::memory_order_relaxed);
      unmap(mapping);
    }
  }
}

Usage usage() {
  return {in_use_bytes.load(std::memory_order_relaxed), idle_bytes.load(std::memory_order_relaxed)};
}

}  // namespace data_daemon_bridge::pixel_memory

namespace data_daemon_bridge {

PixelBytes::PixelBytes(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  data_ = static_cast<uint8_t*>(pixel_memory::allocate(bytes.size()));
  size_ = bytes.size();
  std::memcpy(data_, bytes.data(), bytes.size());
}

PixelBytes& PixelBytes::operator=(PixelBytes&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void PixelBytes::release() {
  if (data_ == nullptr) return;
  pixel_memory::deallocate(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace data_daemon_bridge
