// An unbounded first-in first-out channel with any number of sending ends and one receiving end.
//
// Mechanism: one mutex, one condition variable and a std::deque. It is chosen because it is
// obviously correct, unbounded without a policy of its own, and first-in first-out across all
// producers by construction (the order in which senders take the lock is the channel order). A
// send takes the lock only for one push_back, never waits for room or for the receiver, and
// wakes the receiver only when the queue was empty. The receiver moves the whole queue out in one
// lock hold and works through that batch without the lock, so producers never queue up behind a
// receiver that handles a slow item.
//
// Ownership: the shared state lives as long as any end. Sending ends are cheap copies of one
// shared handle; when the last copy is released the channel is closed for the receiver, which
// still gets every item queued before that. When the receiving end is released, every later send
// fails and hands its item back, and the items still queued are released.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "concurrency/keep_forever.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_bridge {

template <class T>
class Sender;
template <class T>
class Receiver;
template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel();

namespace channel_detail {

template <class T>
struct State {
  std::mutex mutex;
  std::condition_variable ready;  // signalled on the first item into an empty queue, and on close
  std::deque<T> items;            // guarded by mutex
  bool senders_gone = false;      // guarded by mutex
  bool receiver_gone = false;     // guarded by mutex
};

// Shared by all copies of one channel's sending ends; its release closes the channel.
template <class T>
struct SenderGroup {
  explicit SenderGroup(std::shared_ptr<State<T>> s) : state(std::move(s)) {}
  SenderGroup(const SenderGroup&) = delete;
  SenderGroup& operator=(const SenderGroup&) = delete;
  ~SenderGroup() {
    {
      std::lock_guard lock(state->mutex);
      state->senders_gone = true;
    }
    state->ready.notify_all();
  }
  std::shared_ptr<State<T>> state;
};

}  // namespace channel_detail

// A sending end. Copying is cheap (one atomic increment) and takes no lock; so is releasing a
// copy that is not the last one. Any thread may send on its own copy.
template <class T>
class Sender {
 public:
  // Queues the item and returns at once. Fails, handing the item back, only when the receiving
  // end is gone.
  data_daemon_shared::Result<data_daemon_shared::Unit, T> send(T item) const {
    auto& state = *group_->state;
    bool was_empty;
    {
      std::lock_guard lock(state.mutex);
      if (state.receiver_gone) return data_daemon_shared::Err(std::move(item));
      was_empty = state.items.empty();
      state.items.push_back(std::move(item));
    }
    if (was_empty) state.ready.notify_one();
    return data_daemon_shared::Unit{};
  }

  // Keeps this end unreleased for the rest of the process, without touching the channel: the
  // channel is never closed by it and its lock is not taken. For a forked child holding an end
  // inherited from its parent, where that lock may have been held by a thread that does not exist
  // in the child.
  static void keep_forever(Sender&& sender) { data_daemon_bridge::keep_forever(std::move(sender)); }

 private:
  explicit Sender(std::shared_ptr<channel_detail::SenderGroup<T>> group)
      : group_(std::move(group)) {}
  friend std::pair<Sender<T>, Receiver<T>> make_channel<T>();

  std::shared_ptr<channel_detail::SenderGroup<T>> group_;
};

// The receiving end. Only one thread may receive at a time.
template <class T>
class Receiver {
 public:
  Receiver(Receiver&&) noexcept = default;
  Receiver& operator=(Receiver&&) = delete;
  Receiver(const Receiver&) = delete;

  ~Receiver() {
    if (!state_) return;  // moved from
    std::deque<T> dropped;
    {
      std::lock_guard lock(state_->mutex);
      state_->receiver_gone = true;
      dropped.swap(state_->items);
    }
    // `dropped` and `batch_` are released here, outside the lock.
  }

  // The next item in channel order, waiting without a deadline while the channel is empty.
  // Absent once every sending end is gone and every item queued before that was received.
  std::optional<T> receive() {
    if (batch_.empty()) {
      std::unique_lock lock(state_->mutex);
      state_->ready.wait(lock, [this] { return !state_->items.empty() || state_->senders_gone; });
      batch_.swap(state_->items);
    }
    if (batch_.empty()) return std::nullopt;
    std::optional<T> item(std::move(batch_.front()));
    batch_.pop_front();
    return item;
  }

 private:
  explicit Receiver(std::shared_ptr<channel_detail::State<T>> state) : state_(std::move(state)) {}
  friend std::pair<Sender<T>, Receiver<T>> make_channel<T>();

  std::shared_ptr<channel_detail::State<T>> state_;
  std::deque<T> batch_;  // taken from the channel, not yet handed out; the receiving thread's own
};

template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel() {
  auto state = std::make_shared<channel_detail::State<T>>();
  return {Sender<T>(std::make_shared<channel_detail::SenderGroup<T>>(state)),
          Receiver<T>(std::move(state))};
}

}  // namespace data_daemon_bridge
