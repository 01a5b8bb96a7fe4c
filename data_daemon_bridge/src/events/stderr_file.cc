#include "events/stderr_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace data_daemon_bridge {

namespace {

// Owner: the process. Written when the module is loaded (and by tests), read by the log's
// writing thread; a test's change while a line is being written may see the two halves mixed,
// which only loses that line.
std::atomic<bool> NOTED_OPEN{false};
std::atomic<uint64_t> NOTED_DEVICE{0};
std::atomic<uint64_t> NOTED_INODE{0};

// At load, before any thread of the module exists and before the host can close its stderr
// after importing the module.
[[maybe_unused]] const bool NOTED_AT_LOAD = (note_stderr_file(), true);

bool is_noted_file() {
  struct stat now;
  if (fstat(STDERR_FILENO, &now) != 0) return false;
  return NOTED_OPEN.load(std::memory_order_acquire) &&
         static_cast<uint64_t>(now.st_dev) == NOTED_DEVICE.load(std::memory_order_relaxed) &&
         static_cast<uint64_t>(now.st_ino) == NOTED_INODE.load(std::memory_order_relaxed);
}

}  // namespace

void note_stderr_file() {
  struct stat now;
  const bool open = fstat(STDERR_FILENO, &now) == 0;
  NOTED_OPEN.store(false, std::memory_order_release);
  if (!open) return;
  NOTED_DEVICE.store(static_cast<uint64_t>(now.st_dev), std::memory_order_relaxed);
  NOTED_INODE.store(static_cast<uint64_t>(now.st_ino), std::memory_order_relaxed);
  NOTED_OPEN.store(true, std::memory_order_release);
}

StderrWrite write_to_stderr_file(std::string_view line) {
  // The check and the write are two steps: a file opened as descriptor 2 between them still gets
  // the line. Only a host that closes its stderr while the module is writing meets that.
  if (!is_noted_file()) return StderrWrite::NotTheNotedFile;
  while (!line.empty()) {
    const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return StderrWrite::Failed;
    line.remove_prefix(static_cast<size_t>(written));
  }
  return StderrWrite::Written;
}

}  // namespace data_daemon_bridge
