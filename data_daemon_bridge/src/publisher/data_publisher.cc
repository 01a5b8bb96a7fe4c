#include "publisher/data_publisher.h"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "events/events.h"
#include "port/thread.h"
#include "publisher/keep_forever.h"
#include "publisher/publisher_atfork.h"
#include "publisher/publisher_target.h"

namespace data_daemon_bridge {

namespace {

using data_daemon_shared::Unit;

// The process-wide record behind the slow path.
struct DataPublisherSingleton {
  std::optional<PublisherSender> sender;  // the live channel's end; absent until a thread started
  uint32_t pid = 0;  // the process that started the thread behind `sender`; 0 until then
};

DataPublisherSingleton init_data_publisher_singleton() { return {}; }

// The singleton with its mutex, one per process. A forked child's copy of the parent's mutex
// may be locked for good (its holder did not survive the fork), and releasing the parent's
// sender could take the parent's channel lock, held just as well. So the child never touches the
// parent's slot: its first slow-path call makes a slot of its own and swaps it in, keeping the
// parent's unreleased.
struct DataPublisherSlot {
  explicit DataPublisherSlot(uint32_t p) : pid(p), singleton(init_data_publisher_singleton()) {}
  const uint32_t pid;  // the process this slot belongs to
  std::mutex mutex;
  DataPublisherSingleton singleton;  // guarded by mutex
};

// The calling process's slot. Owner: the process; a slot is never released in the process that
// made it.
std::atomic<DataPublisherSlot*> DATA_PUBLISHER{nullptr};

// The calling thread's own sending end, the fast path. Released at thread exit; emptied in a
// forked child by the fork handler.
thread_local std::optional<PublisherSender> PUBLISHER_SENDER_CACHE;

std::atomic<ThreadSpawner> spawner_for_testing{nullptr};

uint32_t current_pid() { return static_cast<uint32_t>(getpid()); }

// The calling process's slot, made on first use in this process.
DataPublisherSlot& slot_for(uint32_t pid) {
  DataPublisherSlot* slot = DATA_PUBLISHER.load(std::memory_order_acquire);
  while (slot == nullptr || slot->pid != pid) {
    auto* fresh = new DataPublisherSlot(pid);
    if (DATA_PUBLISHER.compare_exchange_strong(slot, fresh, std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
      if (slot != nullptr) keep_forever(slot);  // the parent's, never touched again
      return *fresh;
    }
    delete fresh;  // another thread of this process won; `slot` now holds its slot
  }
  return *slot;
}

data_daemon_shared::Result<Unit, std::string> spawn(std::function<void()> body) {
  ThreadSpawner spawner = spawner_for_testing.load(std::memory_order_acquire);
  if (spawner == nullptr) spawner = port::spawn_detached_thread;
  return spawner("qs-data-publisher", std::move(body));
}

}  // namespace

std::optional<PublisherSender> cached_data_publisher_sender() { return PUBLISHER_SENDER_CACHE; }

void cache_data_publisher_sender(const PublisherSender& sender) { PUBLISHER_SENDER_CACHE = sender; }

void forget_data_publisher_sender_after_fork() {
  if (PUBLISHER_SENDER_CACHE) PublisherSender::abandon(std::move(*PUBLISHER_SENDER_CACHE));
  PUBLISHER_SENDER_CACHE.reset();
}

PublisherSender get_or_spawn_data_publisher() {
  if (PUBLISHER_SENDER_CACHE) return *PUBLISHER_SENDER_CACHE;

  // A cached end must never outlive a fork into a child that has no thread reading it, so the
  // child-side handler that empties the cache is in place before the first end is cached. If it
  // could not be registered, ends are not cached at all: every call takes this path, which
  // compares the process id.
  const bool may_cache = ensure_publisher_atfork();

  const uint32_t pid = current_pid();
  DataPublisherSlot& slot = slot_for(pid);
  std::unique_lock lock(slot.mutex);
  DataPublisherSingleton& singleton = slot.singleton;
  if (singleton.sender && singleton.pid == pid) {
    PublisherSender sender = *singleton.sender;
    lock.unlock();
    if (may_cache) cache_data_publisher_sender(sender);
    return sender;
  }

  auto [sender, receiver] = make_channel<PublisherItem>();
  // Shared only to fit std::function; the thread is the receiving end's one user.
  auto started = spawn([owned = std::make_shared<PublisherReceiver>(std::move(receiver))] {
    run_data_publisher(std::move(*owned));
  });
  if (!started) {
    // The receiving end went down with the thread that never ran: the caller's send fails.
    emit_event(EventLevel::Error, kPublisherTarget,
               "failed to spawn data publisher thread; dropping sample",
               {{"error", started.error()}});
    return sender;
  }
  singleton.pid = pid;
  singleton.sender = sender;
  lock.unlock();
  if (may_cache) cache_data_publisher_sender(sender);
  return sender;
}

bool drain_data_publisher() {
  auto [reply_sender, reply_receiver] = make_channel<Unit>();
  {
    PublisherSender sender = get_or_spawn_data_publisher();
    if (!sender.send(PublisherItem{PublisherItem::Flush{std::move(reply_sender)}})) return false;
  }
  return reply_receiver.receive().has_value();
}

void set_data_publisher_spawner_for_testing(ThreadSpawner spawner) {
  spawner_for_testing.store(spawner, std::memory_order_release);
}

}  // namespace data_daemon_bridge
