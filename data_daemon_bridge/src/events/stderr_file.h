// The file that was the process's standard error when the module was loaded, and the writes of
// event lines to it.
//
// A line goes only to that file. A host that closes its stderr (one that daemonises, or one
// started with descriptor 2 closed) gets descriptor 2 handed to the next file anyone opens: one
// of its own data files, an IPC library's file or one of the module's chunk files, none of which
// may ever receive a line. So the file is noted by device and inode, and a write first checks
// that descriptor 2 is still it. No duplicate of the descriptor is kept: it would hold a pipe's
// write end open after the host closed its stderr, and a parent waiting for the end of that pipe
// would wait for as long as the host lives.
#pragma once

#include <string_view>

namespace data_daemon_bridge {

// Notes which file descriptor 2 is now, or that it is closed (then no line is ever written).
// Runs once when the module is loaded; a test that points descriptor 2 elsewhere calls it again.
// Any thread.
void note_stderr_file();

enum class StderrWrite {
  Written,
  NotTheNotedFile,  // descriptor 2 is closed, or is another file than the one noted
  Failed,           // the write failed (EPIPE: nobody reads the pipe any more)
};

// Writes line whole to descriptor 2 if it is still the noted file, waiting for as long as the
// file does not take it. REQUIRES: the calling thread has SIGPIPE blocked
// (port/signals.h), and may wait on the file: it is never a thread of the host or of another part
// of the module.
StderrWrite write_to_stderr_file(std::string_view line);

}  // namespace data_daemon_bridge
