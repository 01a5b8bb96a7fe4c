// Where events go while the host installed no sink: WARN and ERROR events as lines on the
// process's standard error (file descriptor 2), in the form of event_lines.h, bursts folded.
// DEBUG events are not written.
//
// Writing never holds a thread up for long, whatever reads the other end: a line is written only
// when the stream takes it at once (a pipe that nobody drains is skipped), and is at most
// PIPE_BUF bytes, so that it goes out whole, never interleaved with another writer's output. The
// lines that could not be written are counted in the next one that is. Counts of bursts still
// open when the process exits are written at its exit.
#pragma once

#include "events/events.h"

namespace data_daemon_bridge {

// Any thread, any time until the process ends, also in a forked child.
void write_event_to_stderr(const Event& event);

}  // namespace data_daemon_bridge
