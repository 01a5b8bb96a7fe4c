// A one-answer reply channel for the writer's barriers.
//
// The barrier's caller keeps the ReplyReceiver and blocks on it; the ReplySender travels inside
// the barrier job to the writer thread, which answers with send(). A sender released without
// answering (its job was dropped) also ends the wait, so a caller never waits for an answer that
// can no longer come.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace data_daemon_bridge {

namespace reply_detail {
struct ReplyState {
  std::mutex mutex;
  std::condition_variable changed;
  bool answered = false;  // guarded by mutex
  bool closed = false;    // guarded by mutex; the sender is gone (answered or not)
};
}  // namespace reply_detail

class ReplyReceiver;

// Move-only. Any thread may own it; at most one answer is ever sent.
class ReplySender {
 public:
  ReplySender(ReplySender&&) noexcept = default;
  ReplySender& operator=(ReplySender&& other) noexcept;
  ReplySender(const ReplySender&) = delete;
  ReplySender& operator=(const ReplySender&) = delete;
  ~ReplySender();

  // Answers the waiter, if it still waits; an answer nobody reads is dropped without notice.
  void send();

 private:
  friend std::pair<ReplySender, ReplyReceiver> make_reply_channel();
  explicit ReplySender(std::shared_ptr<reply_detail::ReplyState> state)
      : state_(std::move(state)) {}
  void close(bool answer);

  std::shared_ptr<reply_detail::ReplyState> state_;
};

class ReplyReceiver {
 public:
  // Blocks without a deadline until the answer arrives (true) or the sender is released
  // unanswered (false).
  bool wait();

 private:
  friend std::pair<ReplySender, ReplyReceiver> make_reply_channel();
  explicit ReplyReceiver(std::shared_ptr<reply_detail::ReplyState> state)
      : state_(std::move(state)) {}

  std::shared_ptr<reply_detail::ReplyState> state_;
};

std::pair<ReplySender, ReplyReceiver> make_reply_channel();

}  // namespace data_daemon_bridge
