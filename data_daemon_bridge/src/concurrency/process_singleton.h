// A process-wide record made on first use, with a per-thread cache of the value it hands out in
// front of it, both healed after a fork: a call is served from the calling thread's cache (no
// lock, no system call) and locks the record only on a miss.
//
// A forked child never serves its parent's value:
// - the forking thread's cache is emptied in the child by the user's ForkChildHandler, registered
//   before the first value is cached; when that registration failed, the handler's policy says
//   whether caches hold nothing or compare the process id;
// - the record is one per process. A child's copy of the parent's mutex may be locked for good
//   (its holder did not survive the fork), and releasing what the parent's record holds could
//   take locks held just as well. So the child never touches the record it inherited: its first
//   slow path makes a record of its own and puts it in place, and the inherited one is kept,
//   unreleased, until the process ends.
// What the record holds, and how the value is found or made, is the user's.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

#include "concurrency/fork_child_handler.h"
#include "concurrency/keep_forever.h"

namespace data_daemon_bridge {

inline uint32_t current_process_id() { return static_cast<uint32_t>(getpid()); }

// One thread's cached value. Declare it thread_local; it is released when its thread ends.
template <class Value>
class ThreadCache {
 public:
  // The cached value when it may serve this call: always while `handler` is registered (a fork
  // empties the forking thread's cache), otherwise only in the process that stored it. A value
  // stored in another process (a parent's, seen in a child without the handler) is let go as by
  // forget_after_fork, and nullptr returned.
  const Value* find(const ForkChildHandler& handler) {
    if (!value_) return nullptr;
    if (handler.registered() || pid_ == current_process_id()) return &*value_;
    forget_after_fork();
    return nullptr;
  }

  // A copy of the cached value, or absent, whichever process stored it.
  std::optional<Value> peek() const { return value_; }

  // Caches value for the calling process, releasing the value held before.
  void store(Value value) {
    value_ = std::move(value);
    pid_ = current_process_id();
  }

  // Empties the cache without releasing its value, which belongs to the parent and is kept until
  // the process ends. For the fork-child handler, on the forking thread.
  void forget_after_fork() {
    if (value_) keep_forever(std::move(*value_));
    value_.reset();
  }

 private:
  std::optional<Value> value_;
  uint32_t pid_ = 0;  // the process that stored value_
};

// What a slow path hands back: the caller's value, and whether the record holds it. Only a held
// value is cached; one that is not (a thread that could not be started) goes to the caller alone,
// and the next call takes the slow path again.
template <class Value>
struct SlowPathValue {
  Value value;
  bool held;
};

template <class Record>
class ProcessSingleton {
 public:
  // `handler` empties the users' thread caches in a forked child; `init` makes the record a
  // process starts with.
  constexpr ProcessSingleton(ForkChildHandler& handler, Record (*init)())
      : handler_(handler), init_(init) {}
  ProcessSingleton(const ProcessSingleton&) = delete;
  ProcessSingleton& operator=(const ProcessSingleton&) = delete;

  // Any thread.
  // 1. A value that `cache` may serve (ThreadCache::find) is returned; no lock is taken.
  // 2. Otherwise the handler is registered (once per process), the calling process's record is
  //    locked, and slow_path(record, pid) runs under that lock with the process id: it finds or
  //    makes the value and says whether the record holds it.
  // 3. Once the record is unlocked, a held value is stored in `cache`, unless the handler is not
  //    registered and its policy is to cache nothing then.
  // An exception from slow_path unlocks the record and leaves the cache as it was.
  template <class Value, class SlowPath>
  Value get(ThreadCache<Value>& cache, SlowPath&& slow_path) {
    if (const Value* cached = cache.find(handler_)) return *cached;
    const bool may_cache = handler_.register_once() ||
                           handler_.policy().fallback == WithoutForkHandler::kCheckProcessId;
    const uint32_t pid = current_process_id();
    Cell& cell = cell_for(pid);
    std::unique_lock lock(cell.mutex);
    SlowPathValue<Value> found = std::forward<SlowPath>(slow_path)(cell.record, pid);
    lock.unlock();
    if (found.held && may_cache) cache.store(found.value);
    return std::move(found.value);
  }

 private:
  struct Cell {
    Cell(uint32_t p, Record r) : pid(p), record(std::move(r)) {}
    const uint32_t pid;  // the process this cell belongs to
    std::mutex mutex;
    Record record;  // guarded by mutex
  };

  // The calling process's cell, made on its first use in the process. Never waits, so it never
  // waits for a lock that was held at a fork.
  Cell& cell_for(uint32_t pid) {
    Cell* cell = cell_.load(std::memory_order_acquire);
    while (cell == nullptr || cell->pid != pid) {
      auto* fresh = new Cell(pid, init_());
      if (cell_.compare_exchange_strong(cell, fresh, std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
        if (cell != nullptr) keep_forever(cell);  // the parent's, never touched again
        return *fresh;
      }
      delete fresh;  // another thread of this process won; `cell` now holds its cell
    }
    return *cell;
  }

  ForkChildHandler& handler_;
  Record (*const init_)();
  // The calling process's cell. Owner: the process; a cell is never released in the process
  // that made it.
  std::atomic<Cell*> cell_{nullptr};
};

}  // namespace data_daemon_bridge
