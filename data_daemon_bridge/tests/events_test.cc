#include "events/events.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "events/event_lines.h"
#include "events/stderr_file.h"
#include "events/stderr_sink.h"

namespace data_daemon_bridge {
namespace {

using std::chrono::milliseconds;
using Lines = std::vector<std::string>;

// Points the process's stderr at a pipe for its lifetime, noted as the process's stderr, and
// reads what the log's thread writes to it.
class StderrPipe {
 public:
  StderrPipe() {
    EXPECT_EQ(pipe(fds_), 0);
    saved_ = dup(STDERR_FILENO);
    dup2(fds_[1], STDERR_FILENO);
    note_stderr_file();
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
  }
  ~StderrPipe() {
    dup2(saved_, STDERR_FILENO);
    note_stderr_file();
    close(saved_);
    close(fds_[0]);
    close(fds_[1]);
  }

  // What was written, once the log's thread has written every line queued (bounded, so that a
  // broken log fails the test instead of hanging it).
  std::string read_all() {
    EXPECT_TRUE(wait_for_event_lines(std::chrono::seconds(10)));
    while (read_some()) {
    }
    return std::exchange(read_, {});
  }

  // Fills the pipe until it takes no more.
  void fill() {
    fcntl(fds_[1], F_SETFL, O_NONBLOCK);
    const std::string block(PIPE_BUF, 'x');
    while (write(fds_[1], block.data(), block.size()) > 0) filled_ += block.size();
    fcntl(fds_[1], F_SETFL, 0);
  }

  // Reads what fill() put in, keeping what the log's thread writes meanwhile.
  void drain_filling() {
    while (read_.size() < filled_) {
      if (!read_some()) std::this_thread::sleep_for(milliseconds(1));
    }
    read_.erase(0, filled_);
    filled_ = 0;
  }

  void close_reader() {
    close(fds_[0]);
    fds_[0] = -1;
  }

 private:
  bool read_some() {
    char buf[4096];
    const ssize_t n = fds_[0] < 0 ? -1 : read(fds_[0], buf, sizeof buf);
    if (n <= 0) return false;
    read_.append(buf, static_cast<size_t>(n));
    return true;
  }

  int fds_[2] = {-1, -1};
  int saved_ = -1;
  size_t filled_ = 0;
  std::string read_;
};

// The /proc directory of the log's own thread, once it runs.
std::optional<std::filesystem::path> log_thread_task() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name == "qs-event-log") return task.path();
  }
  return std::nullopt;
}

// Waits until the log's thread is inside a write (one stderr does not take), for at most 10 s.
bool log_thread_is_writing() {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < give_up) {
    if (const std::optional<std::filesystem::path> task = log_thread_task()) {
      std::ifstream syscall(*task / "syscall");
      std::string number;
      if (syscall >> number && number == std::to_string(SYS_write)) return true;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return false;
}

void warn(std::string_view message, std::vector<EventField> fields = {}) {
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", message, std::move(fields));
}

TEST(Events, AnInstalledSinkGetsEveryEventAndStderrNone) {
  std::vector<std::string> seen;
  StderrPipe stderr_pipe;
  set_event_sink([&seen](const Event& e) {
    const std::string* error = e.field("error");
    seen.push_back(std::string(event_level_name(e.level)) + " " + std::string(e.target) + " " +
                   std::string(e.message) + " error=" + (error ? *error : "-"));
  });
  EXPECT_TRUE(event_sink_installed());
  EXPECT_TRUE(event_wanted(EventLevel::Debug));
  warn("dropped", {{"error", "boom"}});
  emit_event(EventLevel::Debug, "data_daemon_bridge::test", "plain");
  set_event_sink(nullptr);
  EXPECT_FALSE(event_sink_installed());
  EXPECT_FALSE(event_wanted(EventLevel::Debug));
  EXPECT_TRUE(event_wanted(EventLevel::Warn));

  EXPECT_EQ(seen, (std::vector<std::string>{
                      "WARN data_daemon_bridge::test dropped error=boom",
                      "DEBUG data_daemon_bridge::test plain error=-",
                  }));
  warn("after the sink");
  EXPECT_EQ(stderr_pipe.read_all(), "WARN data_daemon_bridge::test: after the sink\n");
}

TEST(Events, WithoutASinkWarnAndErrorGoToStderrAsLines) {
  StderrPipe stderr_pipe;
  warn("chunk lost", {{"sensor_name", "cam"}, {"error", "No space left on device"}});
  emit_event(EventLevel::Debug, "data_daemon_bridge::test", "never shown");
  emit_event(EventLevel::Error, "data_daemon_bridge::test", "thread not started",
             {{"error", "a\nb \"c\""}});
  EXPECT_EQ(stderr_pipe.read_all(),
            "WARN data_daemon_bridge::test: chunk lost sensor_name=\"cam\" "
            "error=\"No space left on device\"\n"
            "ERROR data_daemon_bridge::test: thread not started error=\"a\\nb \\\"c\\\"\"\n");
}

TEST(Events, AStderrThatTakesNothingHoldsNoEmitterUpAndTheLinesBeyondTheQueueAreCounted) {
  StderrPipe stderr_pipe;
  stderr_pipe.fill();
  // Distinct messages, so that none is folded: the first waits in the log's thread for room, the
  // queue takes the next ones, and the rest are lost. Every call returns at once all the same.
  const size_t emitted = kMaxQueuedEventLines + 40;
  std::vector<std::string> messages;
  for (size_t i = 0; i < emitted; ++i) messages.push_back("m" + std::to_string(i));
  warn(messages[0]);
  ASSERT_TRUE(log_thread_is_writing());  // the thread holds the first line, off the queue
  for (size_t i = 1; i < emitted; ++i) warn(messages[i]);
  stderr_pipe.drain_filling();
  ASSERT_TRUE(wait_for_event_lines(std::chrono::seconds(10)));
  warn("last");

  const std::string written = stderr_pipe.read_all();
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = written.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(written.substr(at, end - at));
  }
  ASSERT_GE(lines.size(), 3u) << written;
  // The lines in the order emitted, from the first on, until the queue was full; then the count
  // of those lost, ahead of the next line written.
  const size_t kept = lines.size() - 2;
  for (size_t i = 0; i < kept; ++i) {
    EXPECT_EQ(lines[i], "WARN data_daemon_bridge::test: m" + std::to_string(i));
  }
  EXPECT_EQ(lines[kept], "WARN data_daemon_bridge::events: " + std::to_string(emitted - kept) +
                             " event lines could not be written to stderr");
  EXPECT_EQ(lines[kept + 1], "WARN data_daemon_bridge::test: last");
  EXPECT_GE(kept, kMaxQueuedEventLines);
}

TEST(Events, LinesGoOnlyToTheFileThatIsTheProcesssStderr) {
  StderrPipe noted;
  // Descriptor 2 closed, then reopened on another file (a host that closed its stderr, whose next
  // file took the descriptor): neither gets a line, and both losses are counted.
  const int saved = dup(STDERR_FILENO);
  close(STDERR_FILENO);
  warn("while closed");
  ASSERT_TRUE(wait_for_event_lines(std::chrono::seconds(10)));
  char path[] = "/tmp/ddb-events-test-XXXXXX";
  const int other = mkstemp(path);
  ASSERT_EQ(other, STDERR_FILENO);
  warn("into another file");
  ASSERT_TRUE(wait_for_event_lines(std::chrono::seconds(10)));
  dup2(saved, STDERR_FILENO);
  close(saved);
  warn("back");
  EXPECT_EQ(noted.read_all(),
            "WARN data_daemon_bridge::events: 2 event lines could not be written to stderr\n"
            "WARN data_daemon_bridge::test: back\n");
  struct stat other_file;
  ASSERT_EQ(stat(path, &other_file), 0);
  EXPECT_EQ(other_file.st_size, 0);
  unlink(path);
}

TEST(Events, APipeNobodyReadsAnyMoreIsALossNeverASignal) {
  // SIGPIPE at its default action, as in a host that never changed it: the process would end.
  struct sigaction previous;
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  ASSERT_EQ(sigaction(SIGPIPE, &default_action, &previous), 0);
  {
    StderrPipe readerless;
    readerless.close_reader();
    warn("to nobody");
    warn("to nobody either");
    ASSERT_TRUE(wait_for_event_lines(std::chrono::seconds(10)));
  }
  StderrPipe stderr_pipe;
  warn("still here");
  EXPECT_EQ(stderr_pipe.read_all(),
            "WARN data_daemon_bridge::events: 2 event lines could not be written to stderr\n"
            "WARN data_daemon_bridge::test: still here\n");
  sigaction(SIGPIPE, &previous, nullptr);
}

// The blocked signals of the log's own thread, read off /proc (SigBlk, a hexadecimal mask with
// bit n - 1 for signal n); empty when the thread is not found.
std::optional<uint64_t> log_thread_blocked_signals() {
  const std::optional<std::filesystem::path> task = log_thread_task();
  if (!task) return std::nullopt;
  std::ifstream status(*task / "status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("SigBlk:")) return std::stoull(line.substr(7), nullptr, 16);
  }
  return std::nullopt;
}

TEST(Events, TheLogsThreadBlocksTheAsynchronousSignalsAndLeavesTheFaultsToTheHost) {
  StderrPipe stderr_pipe;
  warn("wakes the thread");
  EXPECT_EQ(stderr_pipe.read_all(), "WARN data_daemon_bridge::test: wakes the thread\n");
  const std::optional<uint64_t> blocked = log_thread_blocked_signals();
  ASSERT_TRUE(blocked.has_value());
  auto is_blocked = [&](int signo) { return ((*blocked >> (signo - 1)) & 1) != 0; };
  // A fault on the thread must reach the host's handler (a crash reporter, a sanitizer).
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) {
    EXPECT_FALSE(is_blocked(fault)) << strsignal(fault);
  }
  for (int asynchronous : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGALRM}) {
    EXPECT_TRUE(is_blocked(asynchronous)) << strsignal(asynchronous);
  }
}

// Memory running out while a line is made: the emitter goes on, and the line lost is counted in
// the next one written. In a child, whose address space can be bounded.
TEST(Events, ALineThatCannotBeMadeForWantOfMemoryIsCountedAndTheEmitterGoesOn) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's shadow memory fits under no address-space limit";
#endif
  StderrPipe stderr_pipe;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::vector<EventField> huge = {{"detail", std::string(64 << 20, 'x')}};
    struct rlimit unbounded;
    getrlimit(RLIMIT_AS, &unbounded);
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    const struct rlimit bounded = {
        pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + (16 << 20), unbounded.rlim_max};
    setrlimit(RLIMIT_AS, &bounded);
    bool threw = false;
    try {
      emit_event(EventLevel::Warn, "data_daemon_bridge::test", "too large", std::move(huge));
    } catch (...) {
      threw = true;
    }
    setrlimit(RLIMIT_AS, &unbounded);
    warn("after");
    _exit(!threw && wait_for_event_lines(std::chrono::seconds(10)) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(stderr_pipe.read_all(),
            "WARN data_daemon_bridge::events: 1 event lines could not be written to stderr\n"
            "WARN data_daemon_bridge::test: after\n");
}

TEST(Events, ALineTooLongForOneAtomicWriteIsCutBetweenCharactersWithItsQuoteClosed) {
  StderrPipe stderr_pipe;
  // Two-byte characters and escapes all the way, so that a cut at a byte count would split one.
  std::string value;
  while (value.size() < 20000) value += "\u00e9\n";
  warn("long", {{"detail", value}, {"after", "x"}});
  const std::string written = stderr_pipe.read_all();
  ASSERT_GT(written.size(), 100u);
  EXPECT_LE(written.size(), static_cast<size_t>(PIPE_BUF));
  EXPECT_EQ(written.substr(0, 42), "WARN data_daemon_bridge::test: long detail");
  EXPECT_EQ(written.substr(written.size() - 5), "\"...\n");
  const std::string cut = written.substr(43, written.size() - 43 - 4);
  EXPECT_TRUE(cut.ends_with("\u00e9\"") || cut.ends_with("\\n\"")) << cut.substr(cut.size() - 8);
  EXPECT_EQ(cut.find("after"), std::string::npos);
}

TEST(EventLines, ALongLineKeepsWholeFieldsThenCutsTheNextValueAtACharacter) {
  // Uncut, "WARN t: m a="1234" b="éééé"" and its newline take 32 bytes.
  const struct {
    const char* b;
    size_t max_bytes;
    const char* line;
  } cases[] = {
      {"\u00e9\u00e9\u00e9\u00e9", 100, "WARN t: m a=\"1234\" b=\"\u00e9\u00e9\u00e9\u00e9\"\n"},
      {"\u00e9\u00e9\u00e9\u00e9", 32, "WARN t: m a=\"1234\" b=\"\u00e9\u00e9\u00e9\u00e9\"\n"},
      {"\u00e9\u00e9\u00e9\u00e9", 31, "WARN t: m a=\"1234\" b=\"\u00e9\u00e9\"...\n"},
      {"\u00e9\u00e9\u00e9\u00e9", 30,
       "WARN t: m a=\"1234\" b=\"\u00e9\"...\n"},                     // not half of one
      {"\n\n\n\u00e9", 30, "WARN t: m a=\"1234\" b=\"\\n\"...\n"},    // nor half of an escape
      {"\u00e9\u00e9\u00e9\u00e9", 26, "WARN t: m a=\"1234\"...\n"},  // no room for b's quotes
      {"\u00e9\u00e9\u00e9\u00e9", 20, "WARN t: m a=\"12\"...\n"},
  };
  for (const auto& c : cases) {
    const std::vector<EventField> fields = {{"a", "1234"}, {"b", c.b}};
    const std::string line = event_line(Event{EventLevel::Warn, "t", "m", fields}, c.max_bytes);
    EXPECT_EQ(line, c.line) << c.max_bytes;
    EXPECT_LE(line.size(), c.max_bytes);
  }
}

// A scenario of events at given times (ms) and the lines written for each.
struct FoldStep {
  int at_ms;
  EventLevel level;
  const char* message;
  Lines lines;
};

TEST(EventFolder, FoldsEachBurstIntoOneCountLine) {
  const auto W = EventLevel::Warn;
  const auto E = EventLevel::Error;
  const std::vector<FoldStep> steps = {
      {0, W, "frame dropped", {"WARN t: frame dropped\n"}},
      {10, W, "frame dropped", {}},
      {20, W, "frame dropped", {}},
      // Another event (or the same text at another level) is written, and folds on its own.
      {30, E, "frame dropped", {"ERROR t: frame dropped\n"}},
      {40, W, "chunk lost", {"WARN t: chunk lost\n"}},
      {50, W, "chunk lost", {}},
      {60, W, "frame dropped", {}},
      // Past the window the event is written again, after the counts of the bursts that ended.
      {1000,
       W,
       "frame dropped",
       {"WARN t: frame dropped: 3 more like this\n", "WARN t: frame dropped\n"}},
      {1045, W, "chunk lost", {"WARN t: chunk lost: 1 more like this\n", "WARN t: chunk lost\n"}},
      {1050, W, "frame dropped", {}},
  };
  EventFolder folder;
  const auto start = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  const std::vector<EventField> no_fields;
  for (const FoldStep& step : steps) {
    EXPECT_EQ(folder.accept(Event{step.level, "t", step.message, no_fields},
                            start + milliseconds(step.at_ms)),
              step.lines)
        << "at " << step.at_ms << " ms";
  }
  EXPECT_EQ(folder.flush(), (Lines{"WARN t: frame dropped: 1 more like this\n"}));
  EXPECT_EQ(folder.flush(), Lines{});
}

TEST(EventFolder, TheOldestBurstMakesRoomAndIsCounted) {
  EventFolder folder;
  const auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  const std::vector<EventField> no_fields;
  (void)folder.accept(Event{EventLevel::Warn, "t", "m0", no_fields}, now);
  (void)folder.accept(Event{EventLevel::Warn, "t", "m0", no_fields}, now);
  for (size_t i = 1; i < EventFolder::kMaxFolding; ++i) {
    const std::string message = "m" + std::to_string(i);
    EXPECT_EQ(folder.accept(Event{EventLevel::Warn, "t", message, no_fields}, now).size(), 1u);
  }
  EXPECT_EQ(folder.accept(Event{EventLevel::Warn, "t", "one too many", no_fields}, now),
            (Lines{"WARN t: m0: 1 more like this\n", "WARN t: one too many\n"}));
}

}  // namespace
}  // namespace data_daemon_bridge
