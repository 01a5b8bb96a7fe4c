// Starting the writer thread: one per process, shared by every thread, healed after a fork, and
// a failed start that leaves nothing behind.
#include "writer/writer_start.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "chunk_reader.h"
#include "clock/publish_clock.h"
#include "concurrency/fork_child_handler.h"
#include "port/thread.h"
#include "support/event_capture.h"
#include "support/forked_child.h"
#include "test_support.h"
#include "writer/png_workers.h"
#include "writer/writer_loop.h"
#include "writer/writer_test_support.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::Unit;

// The threads of this process that carry the writer's visible name now. A thread starts with the
// name of the thread that created it, so the writer's compression threads carry its name until
// they have named themselves.
int threads_named_writer() {
  int count = 0;
  const std::string wanted = port::visible_thread_name("qs-video-writer");
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return -1;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    count += name == wanted;
  }
  closedir(tasks);
  return count;
}

// The writer threads of this process once they and the threads they started have named
// themselves: a new thread carries its creator's name until it sets its own, and the writer may
// not have set its own yet either.
int writer_threads() {
  int count = threads_named_writer();
  for (int i = 0; i < 500 && count != 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    count = threads_named_writer();
  }
  return count;
}

// Runs body (true: success) in a forked child, which must exit 0 within a bound: a child that
// waits for a lock nobody holds any more is ended by the alarm and fails the test.
template <class Body>
void in_child(Body body) {
  EXPECT_EQ(testing::run_in_child([&] { return body() ? 0 : 1; }, 30), "exit 0");
}

data_daemon_shared::Result<Unit, std::string> refuse_to_start(std::string, size_t,
                                                              std::function<void()>) {
  return data_daemon_shared::Err(std::string("Resource temporarily unavailable"));
}

// Flushes a source through the queue and reports whether the writer answered.
bool flush_answered(WriterQueue& queue) {
  auto [reply, waiter] = make_channel<Unit>();
  if (enqueue_writer_job(queue, FlushSource{std::move(reply), "start", 1})) return false;
  return waiter.receive().has_value();
}

class WriterStart : public ::testing::Test {
 protected:
  void SetUp() override { testing::test_recordings_root(); }
  testing::RecordCapture records;
};

// The sanitizers' allocators (GCC 12's runtimes) are not fork-safe: a child forked while another
// thread of the parent (here the running writer) holds the allocator's lock waits for it forever
// at its first allocation. The plain build runs these tests.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SKIP_FORK_WITH_THREADS_UNDER_SANITIZERS() \
  GTEST_SKIP() << "the sanitizer's allocator is not fork-safe while other threads run"
#else
#define SKIP_FORK_WITH_THREADS_UNDER_SANITIZERS()
#endif

TEST_F(WriterStart, FailedStartLeavesNothingAndTheNextCallTriesAgain) {
  // In a child, so that no writer of this process exists yet when the start fails.
  in_child([] {
    testing::EventCapture events;
    set_writer_thread_starter_for_testing(refuse_to_start);
    std::shared_ptr<WriterQueue> first = get_or_spawn_writer();
    std::shared_ptr<WriterQueue> second = get_or_spawn_writer();
    bool ok = first != second && first.use_count() == 1;
    // A barrier on a queue no thread serves is released with it: the wait ends unanswered.
    auto [reply, waiter] = make_channel<Unit>();
    ok = ok && !enqueue_writer_job(*first, CancelSource{std::move(reply), "start", 1});
    first.reset();
    ok = ok && !waiter.receive().has_value();
    size_t errors = 0;
    for (const auto& e : events.events("data_daemon_bridge::writer")) {
      errors += e.message == "failed to spawn video writer thread; dropping frame" &&
                e.field("error") == "Resource temporarily unavailable";
    }
    ok = ok && errors == 2;
    set_writer_thread_starter_for_testing(nullptr);
    std::shared_ptr<WriterQueue> started = get_or_spawn_writer();
    return ok && started == get_or_spawn_writer() && flush_answered(*started) &&
           writer_threads() == 1;
  });
}

// Not one compression thread could be started: the writer thread, started as the module starts
// it, encodes the frames itself instead of waiting for PNGs that no thread will make. More frames
// than the writer keeps compressing at once, then a flush, all reach the chunk in order.
TEST_F(WriterStart, WithoutCompressionThreadsTheWriterEncodesTheFramesItself) {
  // In a child, so that this process's writer starts with the failing starter in place.
  auto body = [this]() -> int {
    testing::EventCapture events;
    set_png_thread_starter_for_testing(refuse_to_start);
    std::shared_ptr<WriterQueue> queue = get_or_spawn_writer();
    std::vector<VideoFrame> frames;
    const int64_t t = publish_clock_ns();
    for (uint32_t k = 0; k < MAX_PENDING_PNG_JOBS + 3; ++k) {
      frames.push_back(testing::video_frame("inline", "cam", t + k * 1'000'000, 4, 3,
                                            data_daemon_shared::FrameDtype::Rgb8, k));
      CHILD_CHECK(!enqueue_writer_job(*queue, testing::copy_of(frames.back())));
    }
    auto [reply, waiter] = make_channel<Unit>();
    CHILD_CHECK(!enqueue_writer_job(*queue, FlushSource{std::move(reply), "inline", 1}));
    CHILD_CHECK(waiter.receive().has_value());

    size_t refused = 0;
    for (const auto& e : events.events("data_daemon_bridge::writer")) {
      refused += e.message == "failed to spawn PNG compression worker" &&
                 e.field("error") == "Resource temporarily unavailable";
    }
    CHILD_CHECK(refused == png_thread_count(sysconf(_SC_NPROCESSORS_ONLN)));
    auto chunks = testing::chunk_records(records.take("inline"));
    CHILD_CHECK(chunks.size() == 1);
    const auto file = testing::stream_dir("inline", 1, chunks[0].data_type, *chunks[0].name) /
                      ("chunk_" + std::to_string(chunks[0].chunk_start_ns) + "_" +
                       std::to_string(chunks[0].writer_thread_id) + ".nut");
    auto contents = testing::read_chunk(testing::read_file(file));
    CHILD_CHECK(contents.error.empty());
    const auto written = contents.frames();
    CHILD_CHECK(written.size() == frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      CHILD_CHECK(written[i].data == testing::encode_frame_png(frames[i]));
    }
    return 0;
  };
  // A writer that waits for the PNGs hangs at the flush; the guard then ends the child.
  EXPECT_EQ(testing::run_in_child(body, 30), "exit 0");
}

TEST_F(WriterStart, ConcurrentFirstCallsShareOneWriter) {
  std::vector<std::shared_ptr<WriterQueue>> seen(8);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = get_or_spawn_writer(); });
  for (auto& t : threads) t.join();
  for (const auto& queue : seen) EXPECT_EQ(queue, seen[0]);
  EXPECT_EQ(get_or_spawn_writer(), seen[0]);
  EXPECT_EQ(writer_threads(), 1);
  EXPECT_TRUE(flush_answered(*seen[0]));
}

TEST_F(WriterStart, ForkedChildStartsItsOwnWriterAndTheParentKeepsItsOwn) {
  SKIP_FORK_WITH_THREADS_UNDER_SANITIZERS();
  std::shared_ptr<WriterQueue> parent = get_or_spawn_writer();
  const WriterQueue* inherited = parent.get();
  in_child([inherited] {
    std::shared_ptr<WriterQueue> mine = get_or_spawn_writer();
    return mine.get() != inherited && mine == get_or_spawn_writer() && flush_answered(*mine) &&
           writer_threads() == 1;
  });
  EXPECT_EQ(get_or_spawn_writer(), parent);
  EXPECT_TRUE(flush_answered(*parent));
}

TEST_F(WriterStart, ForkWhileAnotherThreadStartsTheWriterDoesNotHangTheChild) {
#if defined(__SANITIZE_THREAD__)
  // Its runtime loses track of threads started after a fork from a forked child.
  GTEST_SKIP() << "ThreadSanitizer does not support threads after nested forks";
#endif
  // A thread of the parent holds the writer singleton (it is starting a writer, slowly) when the
  // fork happens; the child must still get a writer of its own.
  static std::atomic<bool> in_start{false}, release{false};
  set_writer_thread_starter_for_testing(
      [](std::string name, size_t stack, std::function<void()> body) {
        in_start = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return port::start_detached_thread(std::move(name), stack, std::move(body));
      });
  in_child([] {
    std::shared_ptr<WriterQueue> mine;
    std::thread starter([&] { mine = get_or_spawn_writer(); });
    while (!in_start) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The child's own starter thread now holds the child's singleton: fork from the child.
    pid_t grandchild = fork();
    if (grandchild == 0) {
      alarm(30);
      set_writer_thread_starter_for_testing(nullptr);
      std::shared_ptr<WriterQueue> queue = get_or_spawn_writer();
      _exit(queue && flush_answered(*queue) ? 0 : 1);
    }
    int status = 0;
    waitpid(grandchild, &status, 0);
    release = true;
    starter.join();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && mine != nullptr;
  });
  set_writer_thread_starter_for_testing(nullptr);
}

// The fork handler could not be registered: a child forked from a thread whose cache holds the
// parent's queue must still get a writer of its own. Run in a fresh process (the statement
// re-executes this test alone), since a handler registered once stays for the process's life.
TEST_F(WriterStart, FailedForkHandlerRegistrationFallsBackToTheProcessId) {
  SKIP_FORK_WITH_THREADS_UNDER_SANITIZERS();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        testing::EventCapture events;
        set_fork_handler_registration_for_testing([](void (*)()) { return 12; });
        std::shared_ptr<WriterQueue> parent = get_or_spawn_writer();
        const WriterQueue* inherited = parent.get();
        bool warned = false;
        for (const auto& e : events.events("data_daemon_bridge::writer")) {
          warned |= e.message ==
                        "pthread_atfork registration failed; video writer-queue cache relies on "
                        "PID heal" &&
                    e.field("errno") == "12";
        }
        pid_t child = fork();
        if (child == 0) {
          alarm(30);
          std::shared_ptr<WriterQueue> mine = get_or_spawn_writer();
          _exit(mine.get() != inherited && mine == get_or_spawn_writer() && flush_answered(*mine)
                    ? 0
                    : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        _exit(warned && WIFEXITED(status) && WEXITSTATUS(status) == 0 && flush_answered(*parent)
                  ? 0
                  : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace data_daemon_bridge
