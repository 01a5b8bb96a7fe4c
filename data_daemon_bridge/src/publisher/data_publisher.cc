#include "publisher/data_publisher.h"

#include <cstdint>
#include <memory>
#include <utility>

#include "concurrency/process_singleton.h"
#include "concurrency/thread_start_seam.h"
#include "events/events.h"
#include "publisher/publisher_atfork.h"
#include "publisher/publisher_loop.h"

namespace data_daemon_bridge {

namespace {

using data_daemon_shared::Unit;

// The process-wide record behind the slow path.
struct DataPublisherSingleton {
  std::optional<PublisherSender> sender;  // the live channel's end; absent until a thread started
  uint32_t pid = 0;  // the process that started the thread behind `sender`; 0 until then
};

DataPublisherSingleton init_data_publisher_singleton() { return {}; }

// The record of the calling process under its own mutex. A forked child never touches its
// parent's: the mutex may be locked for good, and releasing the parent's sender could take the
// parent's channel lock, held just as well. The child's first slow-path call makes its own.
constinit ProcessSingleton<DataPublisherSingleton> DATA_PUBLISHER{PUBLISHER_ATFORK_ONCE,
                                                                  init_data_publisher_singleton};

// The calling thread's own sending end, the fast path. Released at thread exit; emptied in a
// forked child by the fork handler, and never filled while that handler is not registered.
thread_local ThreadCache<PublisherSender> PUBLISHER_SENDER_CACHE;

constinit ThreadStartSeam DATA_PUBLISHER_THREAD_START;

}  // namespace

std::optional<PublisherSender> cached_data_publisher_sender() {
  return PUBLISHER_SENDER_CACHE.peek();
}

void cache_data_publisher_sender(const PublisherSender& sender) {
  PUBLISHER_SENDER_CACHE.store(sender);
}

void forget_data_publisher_sender_after_fork() { PUBLISHER_SENDER_CACHE.forget_after_fork(); }

PublisherSender get_or_spawn_data_publisher() {
  return DATA_PUBLISHER.get(
      PUBLISHER_SENDER_CACHE,
      [](DataPublisherSingleton& singleton, uint32_t pid) -> SlowPathValue<PublisherSender> {
        if (singleton.sender && singleton.pid == pid) return {*singleton.sender, true};

        auto [sender, receiver] = make_channel<PublisherItem>();
        // Shared only to fit std::function; the thread is the receiving end's one user.
        auto started = DATA_PUBLISHER_THREAD_START.start(
            "qs-data-publisher", 0,
            [owned = std::make_shared<PublisherReceiver>(std::move(receiver))] {
              run_data_publisher(std::move(*owned));
            });
        if (!started) {
          // The receiving end went down with the thread that never ran: the caller's send fails.
          emit_event_nothrow(EventLevel::Error, kPublisherLogTarget,
                             "failed to spawn data publisher thread; dropping sample", [&] {
                               return std::vector<EventField>{{"error", started.error()}};
                             });
          return {std::move(sender), false};
        }
        singleton.pid = pid;
        singleton.sender = sender;
        return {std::move(sender), true};
      });
}

bool drain_data_publisher() {
  auto [reply_sender, reply_receiver] = make_channel<Unit>();
  {
    PublisherSender sender = get_or_spawn_data_publisher();
    if (!sender.send(PublisherItem{PublisherItem::Flush{std::move(reply_sender)}})) return false;
  }
  return reply_receiver.receive().has_value();
}

void set_data_publisher_thread_starter_for_testing(ThreadStarter starter) {
  DATA_PUBLISHER_THREAD_START.set_for_testing(starter);
}

}  // namespace data_daemon_bridge
