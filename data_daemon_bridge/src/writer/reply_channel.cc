#include "writer/reply_channel.h"

namespace data_daemon_bridge {

ReplySender& ReplySender::operator=(ReplySender&& other) noexcept {
  if (this != &other) {
    close(false);
    state_ = std::move(other.state_);
  }
  return *this;
}

ReplySender::~ReplySender() { close(false); }

void ReplySender::send() { close(true); }

void ReplySender::close(bool answer) {
  if (!state_) return;
  {
    std::lock_guard lock(state_->mutex);
    state_->answered = answer;
    state_->closed = true;
  }
  state_->changed.notify_all();
  state_.reset();
}

bool ReplyReceiver::wait() {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(lock, [&] { return state_->closed; });
  return state_->answered;
}

std::pair<ReplySender, ReplyReceiver> make_reply_channel() {
  auto state = std::make_shared<reply_detail::ReplyState>();
  return {ReplySender(state), ReplyReceiver(state)};
}

}  // namespace data_daemon_bridge
