#include "writer/stream_registry.h"

#include <unistd.h>

#include <atomic>
#include <iterator>

#include "writer/stream_key.h"

namespace data_daemon_bridge {

namespace {

// One registry with its lock. Never destroyed: a cell is replaced only in a forked child, where
// the inherited one must not be touched; the new cell keeps a pointer to it so that it stays
// reachable (and leak checkers stay quiet).
struct RegistryCell {
  RegistryCell(uint32_t pid, RegistryCell* inherited) : inherited(inherited) { registry.pid = pid; }
  std::mutex mutex;
  StreamRegistry registry;  // guarded by mutex, except pid, which never changes
  RegistryCell* const inherited;
};

// Owner: this process. Published once per process with release order, so a reader that sees a
// cell also sees its pid.
std::atomic<RegistryCell*> STREAMS{nullptr};

// The first entry that may belong to the source: every key of it begins with robot_id, and keys
// that begin with robot_id sort together from here on.
StreamMap::iterator first_of_robot(StreamMap& streams, std::string_view robot_id) {
  return streams.lower_bound(robot_id);
}

bool of_robot(const StreamMap& streams, StreamMap::iterator it, std::string_view robot_id) {
  return it != streams.end() && it->first.starts_with(robot_id);
}

}  // namespace

StreamRegistryGuard lock_stream_registry() {
  const uint32_t pid = static_cast<uint32_t>(getpid());
  RegistryCell* cell = STREAMS.load(std::memory_order_acquire);
  while (cell == nullptr || cell->registry.pid != pid) {
    auto* created = new RegistryCell(pid, cell);
    if (STREAMS.compare_exchange_strong(cell, created, std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
      cell = created;
      break;
    }
    delete created;  // another thread of this process won; cell now holds its registry
  }
  return StreamRegistryGuard(std::unique_lock(cell->mutex), &cell->registry);
}

StreamMap::node_type take_source_stream(StreamRegistry& registry, std::string_view robot_id,
                                        int64_t robot_instance) {
  StreamMap& streams = registry.streams;
  for (auto it = first_of_robot(streams, robot_id); of_robot(streams, it, robot_id); ++it) {
    if (has_source_prefix(it->first, robot_id, robot_instance)) return streams.extract(it);
  }
  return {};
}

void erase_source_streams(StreamRegistry& registry, std::string_view robot_id,
                          int64_t robot_instance) {
  StreamMap& streams = registry.streams;
  for (auto it = first_of_robot(streams, robot_id); of_robot(streams, it, robot_id);) {
    it = has_source_prefix(it->first, robot_id, robot_instance) ? streams.erase(it) : std::next(it);
  }
}

std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>> snapshot_streams(
    const StreamRegistry& registry) {
  return {registry.streams.begin(), registry.streams.end()};
}

}  // namespace data_daemon_bridge
