// The stream registry: the process-wide map from stream key to the stream's shared chunk state,
// and the memory of when each source was last announced to the daemon.
//
// One registry exists per process. Every use goes through lock_stream_registry, which also heals
// the registry after a fork: a child never locks, reads or releases what it inherited (the lock
// may have been held by a thread that does not exist in the child, and the stream states' open
// chunk files belong to the parent). It starts from an empty registry of its own instead, and the
// inherited one is kept, untouched, until the process ends, so not one buffered byte of it reaches
// the parent's files from the child.
//
// Lock order: the registry mutex is released before a stream's own mutex is taken, and no
// envelope is sent while it is held. Holds are short: map edits and key copies, plus, once per
// new stream, a path computation.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace data_daemon_bridge {

struct SharedStream;  // a StreamState behind its own mutex (writer/stream_state.h)

using StreamMap = std::map<std::string, std::shared_ptr<SharedStream>, std::less<>>;

struct StreamRegistry {
  StreamMap streams;                              // key: stream_key
  std::map<std::string, int64_t> last_announced;  // key: source_key; publish time of last heartbeat
  uint32_t pid = 0;                               // the process this registry serves; never changes
};

// Exclusive access to the calling process's registry for as long as the guard lives.
class StreamRegistryGuard {
 public:
  StreamRegistry& operator*() const { return *registry_; }
  StreamRegistry* operator->() const { return registry_; }

 private:
  friend StreamRegistryGuard lock_stream_registry();
  StreamRegistryGuard(std::unique_lock<std::mutex> lock, StreamRegistry* registry)
      : lock_(std::move(lock)), registry_(registry) {}

  std::unique_lock<std::mutex> lock_;
  StreamRegistry* registry_;
};

// Any thread. Creates the process's registry on first use, or when the one found was created by
// another process (the parent across a fork), and locks it. Never waits for a lock held at a fork.
StreamRegistryGuard lock_stream_registry();

// The streams of a source are those whose key begins with its source_key. The two functions
// below find them without making that key and allocate nothing, so that the barriers that end a
// source's streams cannot fail for want of memory.

// Removes the source's first stream in key order and returns it; an empty node when the source
// has none.
StreamMap::node_type take_source_stream(StreamRegistry& registry, std::string_view robot_id,
                                        int64_t robot_instance);

// Removes every stream of the source. Their states end right here, under the caller's lock.
void erase_source_streams(StreamRegistry& registry, std::string_view robot_id,
                          int64_t robot_instance);

// Every key with a new shared reference to its state; the registry is unchanged.
std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>> snapshot_streams(
    const StreamRegistry& registry);

}  // namespace data_daemon_bridge
