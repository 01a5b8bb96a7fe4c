// ScratchBytes: a byte vector whose growth leaves the new bytes as the allocator hands them over
// instead of writing zeros into them. For reusable buffers every byte of which is written before
// it is read, where clearing them again for each use would be a pass over memory for nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace data_daemon_bridge {

// std::allocator, except that an element made without a value is default-initialised: for a
// byte, left as it is.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };

  DefaultInitAllocator() = default;
  template <class U>
  DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

  template <class U>
  void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

// resize() grows without clearing; the bytes a resize adds hold whatever was there.
using ScratchBytes = std::vector<uint8_t, DefaultInitAllocator<uint8_t>>;

}  // namespace data_daemon_bridge
