#include "events/events.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "events/event_lines.h"

namespace data_daemon_bridge {
namespace {

using std::chrono::milliseconds;
using Lines = std::vector<std::string>;

// Points the process's stderr at a pipe for its lifetime, and reads what was written to it.
class StderrPipe {
 public:
  StderrPipe() {
    EXPECT_EQ(pipe(fds_), 0);
    saved_ = dup(STDERR_FILENO);
    dup2(fds_[1], STDERR_FILENO);
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
  }
  ~StderrPipe() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    close(fds_[0]);
    close(fds_[1]);
  }

  std::string read_all() {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }

  // Fills the pipe until it takes no more.
  void fill() {
    fcntl(fds_[1], F_SETFL, O_NONBLOCK);
    const std::string block(4096, 'x');
    while (write(fds_[1], block.data(), block.size()) > 0) {
    }
    fcntl(fds_[1], F_SETFL, 0);
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};

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
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", "dropped", {{"error", "boom"}});
  emit_event(EventLevel::Debug, "data_daemon_bridge::test", "plain");
  set_event_sink(nullptr);
  EXPECT_FALSE(event_sink_installed());
  EXPECT_FALSE(event_wanted(EventLevel::Debug));
  EXPECT_TRUE(event_wanted(EventLevel::Warn));

  EXPECT_EQ(seen, (std::vector<std::string>{
                      "WARN data_daemon_bridge::test dropped error=boom",
                      "DEBUG data_daemon_bridge::test plain error=-",
                  }));
  EXPECT_EQ(stderr_pipe.read_all(), "");
}

TEST(Events, WithoutASinkWarnAndErrorGoToStderrAsLines) {
  StderrPipe stderr_pipe;
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", "chunk lost",
             {{"sensor_name", "cam"}, {"error", "No space left on device"}});
  emit_event(EventLevel::Debug, "data_daemon_bridge::test", "never shown");
  emit_event(EventLevel::Error, "data_daemon_bridge::test", "thread not started",
             {{"error", "a\nb \"c\""}});
  EXPECT_EQ(stderr_pipe.read_all(),
            "WARN data_daemon_bridge::test: chunk lost sensor_name=\"cam\" "
            "error=\"No space left on device\"\n"
            "ERROR data_daemon_bridge::test: thread not started error=\"a\\nb \\\"c\\\"\"\n");
}

TEST(Events, AStderrThatTakesNothingIsSkippedAndTheLossCounted) {
  StderrPipe stderr_pipe;
  stderr_pipe.fill();
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", "first, unwritten");
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", "second, unwritten");
  (void)stderr_pipe.read_all();
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", "third");
  EXPECT_EQ(stderr_pipe.read_all(),
            "WARN data_daemon_bridge::events: 2 event lines could not be written to stderr\n"
            "WARN data_daemon_bridge::test: third\n");
}

TEST(Events, ALineTooLongForOneAtomicWriteIsCut) {
  StderrPipe stderr_pipe;
  emit_event(EventLevel::Warn, "data_daemon_bridge::test", "long",
             {{"detail", std::string(20000, 'y')}});
  const std::string written = stderr_pipe.read_all();
  ASSERT_GT(written.size(), 100u);
  EXPECT_LE(written.size(), 4096u);
  EXPECT_EQ(written.substr(written.size() - 4), "...\n");
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
