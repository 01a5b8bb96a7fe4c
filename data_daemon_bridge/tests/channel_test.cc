#include "publisher/channel.h"

#include <gtest/gtest.h>

#include <thread>
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

TEST(Channel, AbandonedSenderNeverClosesTheChannel) {
  auto [sender, receiver] = make_channel<int>();
  ASSERT_TRUE(sender.send(1).ok());
  Sender<int>::abandon(std::move(sender));
  EXPECT_EQ(receiver.receive(), 1);
  // With its only sender abandoned, the channel is never closed; a receive would wait forever.
  // Releasing the receiver must not touch the abandoned end.
}

}  // namespace
}  // namespace data_daemon_bridge
