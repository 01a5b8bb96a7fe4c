// Where events go while the host installed no sink: WARN and ERROR events as lines on the
// process's standard error, in the form of event_lines.h, bursts folded. DEBUG events are not
// written.
//
// No thread of the host or of the module ever waits on stderr: an emitting thread only folds the
// event and queues its line, and one thread of the log's own ("qs-event-log", started by the
// first line) writes the lines, in order, each whole. That thread may wait on a stderr nobody
// reads; lines that find the queue full meanwhile, that the file refuses (a pipe nobody reads any
// more: EPIPE, never a signal) or that would go to another file than the process's stderr
// (stderr_file.h) are lost, and counted in a line written ahead of the next one that is written.
// Each line is at most PIPE_BUF bytes, so that it goes out whole, never interleaved with another
// writer's output. At exit, the counts of bursts still open are queued and the queue is given
// about kExitFlushWait to be written, so that exit never hangs on stderr: in a Python host before
// the interpreter finalizes (flush_event_lines_for_exit), else in the process's own exit.
#pragma once

#include <chrono>
#include <cstddef>

#include "events/events.h"

namespace data_daemon_bridge {

inline constexpr size_t kMaxQueuedEventLines = 256;
inline constexpr std::chrono::milliseconds kExitFlushWait{100};

// Any thread, any time until the process ends, also in a forked child. Never throws: a line that
// cannot be made or queued for want of memory is lost and counted.
void write_event_to_stderr(const Event& event);

// Counts one line lost before it could be made (memory ran out while its event was built): the
// count goes out with the next line written. Any thread; takes no lock and allocates nothing.
void count_lost_event_line() noexcept;

// The event log's part of the process's exit, before the interpreter finalizes: queues the
// counts of the bursts still open and gives the queue up to kExitFlushWait to be written. The
// process's own exit, after the interpreter's, then queues what came since without waiting. Any
// thread.
void flush_event_lines_for_exit();

// Waits until every line queued so far has been written or found lost, for at most limit; false
// when the time ran out. The flush at exit waits so; tests wait for the log's thread so too.
bool wait_for_event_lines(std::chrono::milliseconds limit);

}  // namespace data_daemon_bridge
