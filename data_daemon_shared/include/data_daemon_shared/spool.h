// Two measures of the video spool: the size of its directory tree and a frame's offset in its
// chunk. Neither fails; both may run on any thread.
#pragma once

#include <cstdint>
#include <string>

namespace data_daemon_shared {

// The total length (status size, not allocated blocks) of the regular files under path,
// saturating at 2^64 - 1. path itself is opened as a directory, following a symbolic link;
// below it no symbolic link is followed or counted. Whatever cannot be listed or read (a
// missing or non-directory path, an entry removed meanwhile, no permission) is skipped, so a
// missing path or a regular file gives 0. Walks with a heap stack: no recursion, no depth limit.
// Files created or grown while it walks may or may not be seen.
uint64_t dir_size_bytes(const std::string& path);

// The whole microseconds from start_ns to t_ns: 0 when t_ns is before start_ns, capped at
// 4,294,967,295 (about 71.6 minutes). The difference saturates rather than overflows.
uint32_t ns_delta_to_us(int64_t start_ns, int64_t t_ns);

}  // namespace data_daemon_shared
