// A child-side fork handler that is registered at most once per process, with what its users do
// when the registration fails.
//
// Process-wide state that threads cache must not serve a forked child from the forking thread's
// cache: the cached value belongs to the parent (a channel or queue that no thread of the child
// serves), and releasing it could take a lock that a parent thread held at the fork. The handler
// empties the forking thread's caches in the child. Registering it can fail; each user then says
// in its own WARN event how it stays correct, and chooses how its thread cache behaves.
#pragma once

#include <atomic>
#include <mutex>
#include <string_view>

namespace data_daemon_bridge {

// How a thread cache behind a handler works when the handler could not be registered.
enum class WithoutForkHandler {
  // Nothing is cached: every call takes the slow path, where the per-process slot compares the
  // process id.
  kCacheNothing,
  // Values are cached together with the process id they were taken in, and the fast path
  // compares it before serving one.
  kCheckProcessId,
};

// What a user hands its handler.
struct ForkHandlerPolicy {
  std::string_view log_target;  // target of the WARN event
  std::string_view warning;     // message of the WARN event, logged with the field errno
  WithoutForkHandler fallback;
};

class ForkChildHandler {
 public:
  // `child` runs in the child process right after fork, on the forking thread, the child's only
  // thread. It must touch nothing but that thread's own state.
  constexpr ForkChildHandler(void (*child)(), ForkHandlerPolicy policy)
      : child_(child), policy_(policy) {}
  ForkChildHandler(const ForkChildHandler&) = delete;
  ForkChildHandler& operator=(const ForkChildHandler&) = delete;

  // Registers `child` (no prepare and no parent handler) on the first call in the process; a
  // thread that arrives while that runs waits for it. A failure logs the policy's WARN event with
  // the returned code as errno and is not retried. Returns, on every call, whether the handler is
  // in place. A forked child inherits the registration and its outcome, and never registers again.
  bool register_once();

  // Whether register_once has put the handler in place. Never waits: for fast paths.
  bool registered() const { return registered_.load(std::memory_order_acquire); }

  const ForkHandlerPolicy& policy() const { return policy_; }

 private:
  void (*const child_)();
  const ForkHandlerPolicy policy_;
  std::once_flag once_;
  std::atomic<bool> registered_{false};  // set once, inside once_
};

// Tests: how every handler is registered (0, or an error code); nullptr restores the platform's.
// Effective for a handler only before its first register_once.
using ForkHandlerRegistration = int (*)(void (*child)());
void set_fork_handler_registration_for_testing(ForkHandlerRegistration registration);

}  // namespace data_daemon_bridge
