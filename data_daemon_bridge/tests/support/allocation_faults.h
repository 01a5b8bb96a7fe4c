// Allocations that fail on purpose: the program that links allocation_faults.cc replaces the
// global operator new with one that throws std::bad_alloc, on the calling thread only, where a
// test has armed it. Everything the module allocates through operator new (strings, vectors,
// maps, shared states, small pixel buffers) can so be made to fail at any one allocation, or from
// one on, which no address-space limit can aim at. Unarmed, it is malloc.
//
// Linked only into the out-of-memory test program: a replaced operator new is the whole
// process's, and the sanitizers would lose their own checks of new and delete elsewhere.
#pragma once

#include <cstdint>

namespace data_daemon_bridge::testing {

// While it lives, the calling thread's allocations through operator new are counted, and the
// `fail_at`-th of them (1: the next one) fails; with `sustained`, every one after it fails as
// well. A nothrow operator new returns nullptr instead of throwing. Not nested.
class AllocationFaults {
 public:
  AllocationFaults(uint64_t fail_at, bool sustained);
  ~AllocationFaults();
  AllocationFaults(const AllocationFaults&) = delete;
  AllocationFaults& operator=(const AllocationFaults&) = delete;

  uint64_t allocations() const;  // asked for so far, failed ones included
  uint64_t failures() const;     // made to fail so far
};

// A scope of the calling thread whose allocations neither fail nor count, inside an
// AllocationFaults: for a test's own bookkeeping on the thread under test (its sinks).
class AllocationsAllowed {
 public:
  AllocationsAllowed();
  ~AllocationsAllowed();
  AllocationsAllowed(const AllocationsAllowed&) = delete;
  AllocationsAllowed& operator=(const AllocationsAllowed&) = delete;

 private:
  bool was_armed_;
};

}  // namespace data_daemon_bridge::testing
