#include "concurrency/channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::Unit;

struct Tagged {
  int producer;
  int seq;
};

TEST(Channel, KeepsEachProducersOrderAndEndsWhenAllSendersAreGone) {
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 5000;
  auto [sender, receiver] = make_channel<Tagged>();
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([p, s = sender] {
      for (int i = 0; i < kPerProducer; ++i) ASSERT_TRUE(s.send({p, i}).ok());
    });
  }
  { auto released = std::move(sender); }  // only the producers' copies remain

  std::vector<int> next(kProducers, 0);
  int total = 0;
  while (auto item = receiver.receive()) {
    ASSERT_EQ(item->seq, next[item->producer]) << "producer " << item->producer;
    ++next[item->producer];
    ++total;
  }
  for (auto& t : producers) t.join();
  EXPECT_EQ(total, kProducers * kPerProducer);
  EXPECT_FALSE(receiver.receive().has_value());  // stays closed
}

TEST(Channel, ReceiverWaitsForALateItem) {
  auto [sender, receiver] = make_channel<int>();
  std::thread late([s = sender] { ASSERT_TRUE(s.send(7).ok()); });
  EXPECT_EQ(receiver.receive(), 7);
  late.join();
}

TEST(Channel, SendAfterReceiverIsGoneHandsTheItemBackAndQueuedItemsAreReleased) {
  auto [sender, receiver] = make_channel<Sender<Unit>>();
  auto [reply_sender, reply_receiver] = make_channel<Unit>();
  ASSERT_TRUE(sender.send(std::move(reply_sender)).ok());
  { auto gone = std::move(receiver); }

  // The queued item held the reply channel's only sending end: releasing it closes that channel.
  EXPECT_FALSE(reply_receiver.receive().has_value());

  auto [other_sender, other_receiver] = make_channel<Unit>();
  auto refused = sender.send(std::move(other_sender));
  ASSERT_FALSE(refused.ok());
  // The refused item is intact: its channel still works.
  ASSERT_TRUE(refused.error().send(Unit{}).ok());
  EXPECT_TRUE(other_receiver.receive().has_value());
}

// An item whose first move, the one a send makes into the queue with the channel's lock held,
// waits until the test lets it go: it holds that lock for the test.
class LockHolder {
 public:
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;    // guarded by mutex
    bool released = false;  // guarded by mutex
    bool gave_up = false;   // guarded by mutex
  };

  explicit LockHolder(Gate* gate) : gate_(gate) {}
  LockHolder(LockHolder&& other) noexcept : gate_(std::exchange(other.gate_, nullptr)) {
    if (!gate_) return;
    std::unique_lock lock(gate_->mutex);
    gate_->inside = true;
    gate_->changed.notify_all();
    // Bounded only so that a fault cannot hang the suite: the test releases the gate at once.
    if (!gate_->changed.wait_for(lock, std::chrono::seconds(20), [&] { return gate_->released; })) {
      gate_->gave_up = true;
    }
    gate_ = nullptr;
  }

 private:
  Gate* gate_;
};

// Abandoning is for a forked child, whose copy of the channel's lock may be held by a thread that
// does not exist there: it must neither take that lock nor close the channel, which would need
// it. Here a send on the same end holds the lock while the end, the channel's last, is kept
// forever.
TEST(Channel, AbandoningTheLastSenderTakesNoLockAndNeverClosesTheChannel) {
  auto [sender, receiver] = make_channel<LockHolder>();
  LockHolder::Gate gate;
  std::thread holder([&gate, &s = sender] { ASSERT_TRUE(s.send(LockHolder(&gate)).ok()); });
  {
    std::unique_lock lock(gate.mutex);
    gate.changed.wait(lock, [&] { return gate.inside; });
  }
  Sender<LockHolder>::keep_forever(std::move(sender));
  {
    std::lock_guard lock(gate.mutex);
    gate.released = true;
  }
  gate.changed.notify_all();
  holder.join();
  EXPECT_FALSE(gate.gave_up) << "keeping forever waited for the channel's lock";
  EXPECT_TRUE(receiver.receive().has_value());
}

}  // namespace
}  // namespace data_daemon_bridge
