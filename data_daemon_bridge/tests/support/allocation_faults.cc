#include "support/allocation_faults.h"

#include <cstdlib>
#include <new>

namespace data_daemon_bridge::testing {

namespace {

// The calling thread's state; trivially initialised, so that reading it allocates nothing.
thread_local constinit bool armed = false;
thread_local constinit bool sustained_failure = false;
thread_local constinit uint64_t fail_at_count = 0;
thread_local constinit uint64_t counted = 0;
thread_local constinit uint64_t failed = 0;

bool should_fail() noexcept {
  if (!armed) return false;
  ++counted;
  if (counted == fail_at_count || (sustained_failure && counted > fail_at_count)) {
    ++failed;
    return true;
  }
  return false;
}

void* allocate(std::size_t bytes) noexcept {
  if (should_fail()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void* allocate_aligned(std::size_t bytes, std::align_val_t alignment) noexcept {
  if (should_fail()) return nullptr;
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (bytes + align - 1) / align * align;
  return std::aligned_alloc(align, rounded == 0 ? align : rounded);
}

template <class P>
P or_throw(P p) {
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

AllocationFaults::AllocationFaults(uint64_t fail_at, bool sustained) {
  counted = 0;
  failed = 0;
  fail_at_count = fail_at;
  sustained_failure = sustained;
  armed = true;
}

AllocationFaults::~AllocationFaults() { armed = false; }

uint64_t AllocationFaults::allocations() const { return counted; }
uint64_t AllocationFaults::failures() const { return failed; }

AllocationsAllowed::AllocationsAllowed() : was_armed_(armed) { armed = false; }
AllocationsAllowed::~AllocationsAllowed() { armed = was_armed_; }

}  // namespace data_daemon_bridge::testing

using data_daemon_bridge::testing::allocate;
using data_daemon_bridge::testing::allocate_aligned;
using data_daemon_bridge::testing::or_throw;

void* operator new(std::size_t n) { return or_throw(allocate(n)); }
void* operator new[](std::size_t n) { return or_throw(allocate(n)); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return or_throw(allocate_aligned(n, a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return or_throw(allocate_aligned(n, a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate_aligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate_aligned(n, a);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
