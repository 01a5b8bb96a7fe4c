// Keeping a value alive, never released, until the process ends.
//
// For what a forked child inherits and must not release: releasing could take a lock that a
// parent thread held at the fork, and that no thread of the child will ever release. The value
// stays reachable from a process-wide list, so leak checkers see it as kept, not lost.
#pragma once

#include <atomic>
#include <utility>

namespace data_daemon_bridge {

// Any thread; takes no lock.
template <class T>
void keep_forever(T value) {
  struct Node {
    T value;
    Node* next;
  };
  static std::atomic<Node*> head{nullptr};
  auto* node = new Node{std::move(value), head.load(std::memory_order_relaxed)};
  while (!head.compare_exchange_weak(node->next, node, std::memory_order_release,
                                     std::memory_order_relaxed)) {
  }
}

}  // namespace data_daemon_bridge
