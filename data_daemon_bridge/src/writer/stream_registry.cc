#include "writer/stream_registry.h"

#include <unistd.h>

#include <atomic>

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

std::vector<std::string> stream_keys_with_prefix(const StreamRegistry& registry,
                                                 std::string_view prefix) {
  std::vector<std::string> keys;
  for (auto it = registry.streams.lower_bound(prefix);
       it != registry.streams.end() && it->first.starts_with(prefix); ++it) {
    keys.push_back(it->first);
  }
  return keys;
}

std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>> take_streams(
    StreamRegistry& registry, std::vector<std::string> keys) {
  std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>> taken;
  for (std::string& key : keys) {
    auto node = registry.streams.extract(key);
    if (!node.empty()) taken.emplace_back(std::move(key), std::move(node.mapped()));
  }
  return taken;
}

std::vector<std::pair<std::string, std::shared_ptr<SharedStream>>> snapshot_streams(
    const StreamRegistry& registry) {
  return {registry.streams.begin(), registry.streams.end()};
}

}  // namespace data_daemon_bridge
