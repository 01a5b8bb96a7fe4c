#include "writer/pixel_bytes.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <optional>

#include "writer/writer_queue.h"

namespace data_daemon_bridge::pixel_memory {

namespace {

// A mapping starts with its header; the buffer follows it, 64-byte aligned.
struct Header {
  size_t length;  // of the whole mapping
};
constexpr size_t kHeaderBytes = 64;
static_assert(sizeof(Header) <= kHeaderBytes);

size_t page_size() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

size_t mapping_length(size_t bytes) {
  const size_t page = page_size();
  return (bytes + kHeaderBytes + page - 1) / page * page;
}

// The pool's two counts, in pages (mapping lengths are whole pages): of the mappings handed out
// and of those in idle_slots. They share one word so that a test of both limits and the change it
// allows are one atomic step: with two words, two releases at once could each find room for one
// mapping and both keep theirs.
struct Pages {
  uint64_t in_use;
  uint64_t idle;
};
// The idle count stays within kMaxIdleBytes (16,384 pages of 4 KiB) and takes the low 24 bits;
// the 40 above hold more pages in use than any address space has.
constexpr uint64_t kIdleBits = 24;
static_assert(kMaxIdleBytes / 4096 < uint64_t{1} << kIdleBits);
uint64_t pack(Pages pages) { return pages.in_use << kIdleBits | pages.idle; }
Pages unpack(uint64_t word) { return {word >> kIdleBits, word & ((uint64_t{1} << kIdleBits) - 1)}; }
uint64_t pages_of(const Header* mapping) { return mapping->length / page_size(); }

// Owner: the process. Lock-free, so that a forked child inherits a pool it can use at once: the
// idle mappings are copied into the child like any memory, and no lock can be left held.
std::array<std::atomic<Header*>, kIdleSlots> idle_slots{};
std::atomic<uint64_t> pool_pages{0};  // pack(Pages)

std::atomic<void (*)()> RELEASE_PAUSE{nullptr};  // set_release_pause_for_testing

// Applies change to the counts as one atomic step, unless it gives nothing (the change is not
// allowed); returns whether it was applied.
template <class Change>
bool update_pages(Change change) {
  uint64_t word = pool_pages.load(std::memory_order_relaxed);
  for (;;) {
    const std::optional<Pages> next = change(unpack(word));
    if (!next) return false;
    if (pool_pages.compare_exchange_weak(word, pack(*next), std::memory_order_relaxed)) {
      return true;
    }
  }
}

void unmap(Header* mapping) { munmap(mapping, mapping->length); }

// Drops an idle mapping that is no longer in a slot.
void unmap_idle(Header* mapping) {
  const uint64_t pages = pages_of(mapping);
  update_pages([&](Pages p) { return Pages{p.in_use, p.idle - pages}; });
  unmap(mapping);
}

// An idle mapping of at least length bytes and not much more, taken out of the pool and counted
// in use; nullptr when there is none.
Header* take_idle(size_t length) {
  for (std::atomic<Header*>& slot : idle_slots) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    Header* mapping = slot.exchange(nullptr, std::memory_order_acquire);
    if (mapping == nullptr) continue;
    if (mapping->length >= length && mapping->length - length <= length / 4) {
      const uint64_t pages = pages_of(mapping);
      update_pages([&](Pages p) { return Pages{p.in_use + pages, p.idle - pages}; });
      return mapping;
    }
    // Not this size: back where it was, or gone if another mapping took the slot meanwhile.
    Header* empty = nullptr;
    if (!slot.compare_exchange_strong(empty, mapping, std::memory_order_release)) {
      unmap_idle(mapping);
    }
  }
  return nullptr;
}

// Counts a released mapping out of use and, if the pool may grow by it, as idle: both limits are
// tested on the counts the change applies to. Returns whether it is to be kept idle.
bool release_pages(const Header* mapping) {
  const uint64_t pages = pages_of(mapping);
  const uint64_t max_idle = kMaxIdleBytes / page_size();
  const uint64_t max_total = MAX_QUEUED_FRAME_BYTES / page_size();
  bool keep = false;
  update_pages([&](Pages p) {
    if (auto pause = RELEASE_PAUSE.load(std::memory_order_relaxed)) pause();
    const uint64_t in_use = p.in_use - pages;
    keep = p.idle + pages <= max_idle && in_use + p.idle + pages <= max_total;
    return Pages{in_use, keep ? p.idle + pages : p.idle};
  });
  return keep;
}

// Puts a mapping counted idle into a free slot; false when every slot is taken.
bool store_idle(Header* mapping) {
  for (std::atomic<Header*>& slot : idle_slots) {
    Header* empty = nullptr;
    if (slot.compare_exchange_strong(empty, mapping, std::memory_order_release)) return true;
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
    const uint64_t pages = pages_of(mapping);
    update_pages([&](Pages p) { return Pages{p.in_use + pages, p.idle}; });
  }
  return reinterpret_cast<uint8_t*>(mapping) + kHeaderBytes;
}

void deallocate(void* p, size_t bytes) noexcept {
  if (bytes < kMappedFrom) {
    ::operator delete(p);
    return;
  }
  auto* mapping = reinterpret_cast<Header*>(static_cast<uint8_t*>(p) - kHeaderBytes);
  if (!release_pages(mapping)) {
    unmap(mapping);
  } else if (!store_idle(mapping)) {
    unmap_idle(mapping);
  }
}

void release_idle_for_testing() {
  for (std::atomic<Header*>& slot : idle_slots) {
    if (Header* mapping = slot.exchange(nullptr, std::memory_order_acquire)) unmap_idle(mapping);
  }
}

void set_release_pause_for_testing(void (*pause)()) {
  RELEASE_PAUSE.store(pause, std::memory_order_relaxed);
}

Usage usage() {
  const Pages pages = unpack(pool_pages.load(std::memory_order_relaxed));
  return {pages.in_use * page_size(), pages.idle * page_size()};
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
