// The data publisher: one process-wide background thread, "qs-data-publisher", that drains one
// unbounded channel of PublisherItems and publishes each as an envelope on its own commands
// publisher. Producers (log_joints, log_json, the video pipeline) pay one enqueue and never wait
// for the daemon; only the flush barrier waits. While no daemon listens, the thread gives each
// item one attempt once a publish has waited out the subscriber wait in vain
// (serve_publisher_items), so the channel stays short and a barrier is answered within about
// that one wait.
//
// The thread and its channel are made by the first caller of get_or_spawn_data_publisher in a
// process and run detached until the process ends. A forked child makes its own on first use;
// nothing it queues reaches its parent's thread, and it never waits on its parent's locks.
#pragma once

#include <optional>

#include "concurrency/thread_start_seam.h"
#include "publisher/publisher_item.h"

namespace data_daemon_bridge {

// A sending end of the live channel. Never fails: when the thread cannot be started (an ERROR
// event is logged), the end belongs to a channel nobody receives from, so the caller's send
// fails and hands its item back, and the next call tries again. Callers send once and release
// the end. Any thread; after the thread's first successful call, the fast path is a clone of the
// thread's cached end, with no lock and no system call.
PublisherSender get_or_spawn_data_publisher();

// The calling thread's cached sending end (a clone), or absent.
std::optional<PublisherSender> cached_data_publisher_sender();
// Stores a clone as the calling thread's cached end, releasing the one held before.
void cache_data_publisher_sender(const PublisherSender& sender);

// The flush barrier: returns true once every item queued on the channel before it, by any
// thread, has been published or dropped; false at once when the thread cannot be started, or
// when the barrier was dropped unanswered. Waits without a deadline. Items queued after it are
// not waited for.
bool drain_data_publisher();

// For the forked child's fork handler, on the forking thread: empties that thread's cached end
// without releasing it (it belongs to the parent's channel, whose lock a parent thread may have
// held at the fork).
void forget_data_publisher_sender_after_fork();

// Tests: how the thread is started (it asks for no stack size); nullptr restores the platform's.
void set_data_publisher_thread_starter_for_testing(ThreadStarter starter);

}  // namespace data_daemon_bridge
