// Memory that runs out for real: an address-space limit (RLIMIT_AS) that a forked child sets on
// itself, a little above what it already uses, so that a large allocation finds no room while
// small ones still come from memory the process has.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace data_daemon_bridge::testing {

// The sanitizers' shadow memory fits under no such limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kAddressSpaceLimitWorks = false;
#else
inline constexpr bool kAddressSpaceLimitWorks = true;
#endif

// Limits the calling process to the address space it uses now plus headroom bytes. False when
// the size cannot be read or the limit cannot be set.
inline bool limit_address_space(uint64_t headroom) {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return false;
  unsigned long pages = 0;
  const bool read = std::fscanf(statm, "%lu", &pages) == 1;
  std::fclose(statm);
  if (!read) return false;
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0) return false;
  limit.rlim_cur = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + headroom;
  return setrlimit(RLIMIT_AS, &limit) == 0;
}

// Raises the limit back to the hard one.
inline bool lift_address_space_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0) return false;
  limit.rlim_cur = limit.rlim_max;
  return setrlimit(RLIMIT_AS, &limit) == 0;
}

}  // namespace data_daemon_bridge::testing
