// The command link on the real service names, against the development daemon in another
// process. Each test process has an IPC namespace of its own (support/ipc_sandbox_main.cc), in
// which it and the daemons it starts are alone on those names.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <latch>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "data_daemon_ipc/publish_subscribe.h"
#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/panic.h"
#include "data_daemon_shared/query.h"
#include "gtest/gtest.h"
#include "publisher/ipc_handles.h"
#include "publisher/ipc_handles_cell.h"
#include "publisher/publish.h"
#include "query/daemon_queries.h"
#include "support/child_process.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_bridge::testing::ChildProcess;
using data_daemon_bridge::testing::helper_path;
using namespace data_daemon_shared;
using namespace std::chrono_literals;

std::vector<std::string> dev_daemon_argv(std::vector<std::string> options) {
  options.insert(options.begin(), {DDB_DEV_DAEMON, "--announce-ready"});
  return options;
}

class DevDaemon {
 public:
  explicit DevDaemon(std::vector<std::string> options = {})
      : process_(dev_daemon_argv(std::move(options))) {
    ready_ = process_.wait_for_line("{\"ready\":true}");
  }
  bool ready() const { return ready_; }
  std::optional<std::string> next_line() { return process_.read_line(); }

 private:
  ChildProcess process_;
  bool ready_ = false;
};

// The daemon's line for CancelRecording{robot_id, 0, timestamp_ns}.
std::string cancel_line(const std::string& robot_id, int64_t timestamp_ns) {
  return "{\"variant\":\"CancelRecording\",\"robot_id\":\"" + robot_id +
         "\",\"robot_instance\":0,\"timestamp_ns\":" + std::to_string(timestamp_ns) + "}";
}

Envelope cancel(const std::string& robot_id, int64_t timestamp_ns) {
  return CancelRecording{robot_id, 0, timestamp_ns};
}

// A Data envelope whose encoding is exactly `size` bytes.
Envelope data_of_encoded_size(size_t size) {
  Data data{"arm", 0, "json", std::nullopt, 1, 2, std::nullopt, {}};
  const size_t empty = encode_envelope(data).value().size() - 1;  // less the length byte
  for (size_t payload = size - empty - 3; payload <= size - empty; ++payload) {
    data.payload.assign(payload, 'x');
    if (encode_envelope(data).value().size() == size) return data;
  }
  std::abort();
}

// A publisher released before the subscriber first looked at it takes its undelivered samples
// with it, so every publishing thread below stays alive until the daemon has printed its lines.

TEST(CommandLink, EachThreadsCommandsArriveInItsOrderAndItBuildsItsSetOnce) {
  DevDaemon daemon;
  ASSERT_TRUE(daemon.ready());
  constexpr int kPerThread = 50;
  std::latch all_printed(1);
  auto publish_run = [&all_printed](const std::string& robot_id, uint64_t* builds) {
    for (int i = 0; i < kPerThread; ++i) {
      auto result = publish_envelope(cancel(robot_id, i));
      if (!result) ADD_FAILURE() << publisher_error_text(result.error());
    }
    *builds = ipc_handles_build_count();
    all_printed.wait();
  };
  uint64_t builds_a = 0, builds_b = 0;
  std::thread a(publish_run, "a", &builds_a);
  std::thread b(publish_run, "b", &builds_b);

  std::map<std::string, int> next = {{"a", 0}, {"b", 0}};
  for (int line = 0; line < 2 * kPerThread; ++line) {
    auto got = daemon.next_line();
    if (!got) {
      ADD_FAILURE() << "only " << line << " lines";
      break;
    }
    const std::string robot = got->find("\"robot_id\":\"a\"") != std::string::npos ? "a" : "b";
    EXPECT_EQ(*got, cancel_line(robot, next[robot]++));
  }
  all_printed.count_down();
  a.join();
  b.join();
  EXPECT_EQ(builds_a, 1u);
  EXPECT_EQ(builds_b, 1u);
}

// Every send beyond the daemon's 64-envelope buffer is refused at first; each is tried again
// until it is taken, and none is lost or overtaken.
TEST(CommandLink, ADaemonThatReadsSlowerThanTheProducerGetsEveryCommandInOrder) {
  DevDaemon daemon({"--read-delay-us", "200"});
  ASSERT_TRUE(daemon.ready());
  constexpr int kCommands = 300;  // their lines fit in the pipe, read only afterwards
  const uint64_t retries_before = full_buffer_wait_counts().retries;
  for (int i = 0; i < kCommands; ++i) {
    auto result = publish_envelope(cancel("slow", i));
    ASSERT_TRUE(result.ok()) << publisher_error_text(result.error());
  }
  EXPECT_GT(full_buffer_wait_counts().retries, retries_before) << "the buffer was never full";
  for (int i = 0; i < kCommands; ++i) {
    auto line = daemon.next_line();
    ASSERT_TRUE(line.has_value()) << "only " << i << " lines";
    EXPECT_EQ(*line, cancel_line("slow", i));
  }
}

TEST(CommandLink, AThreadThatPublishesAndEndsAtOnceLosesNothing) {
  DevDaemon daemon;
  ASSERT_TRUE(daemon.ready());
  constexpr int kThreads = 8;
  std::vector<std::string> expected;
  for (int i = 0; i < kThreads; ++i) {
    // Its set, with the publisher the daemon has yet to connect to, goes at the thread's end.
    std::thread([i] {
      auto result = publish_envelope(cancel("brief", i));
      if (!result) ADD_FAILURE() << publisher_error_text(result.error());
    }).join();
    expected.push_back(cancel_line("brief", i));
  }
  std::vector<std::string> got;
  for (int i = 0; i < kThreads; ++i) {
    auto line = daemon.next_line();
    if (!line) break;
    got.push_back(*line);
  }
  std::sort(got.begin(), got.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(got, expected);
}

TEST(CommandLink, TheLargestEnvelopeIsPublishedAndOneByteMoreIsRefusedUntouched) {
  DevDaemon daemon;
  ASSERT_TRUE(daemon.ready());
  std::thread([&] {
    // Refused before any handle set is built.
    auto refused = publish_envelope(data_of_encoded_size(MAX_ENVELOPE_BYTES + 1));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(publisher_error_text(refused.error()),
              "envelope payload 1048577 bytes exceeds limit 1048576 bytes");
    EXPECT_EQ(ipc_handles_build_count(), 0u);

    auto largest = publish_envelope(data_of_encoded_size(MAX_ENVELOPE_BYTES));
    EXPECT_TRUE(largest.ok()) << publisher_error_text(largest.error());
    EXPECT_TRUE(publish_envelope(cancel("after", 1)).ok());

    auto first = daemon.next_line();
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->starts_with("{\"variant\":\"Data\",\"robot_id\":\"arm\""));
    EXPECT_GT(first->size(), 2 * (MAX_ENVELOPE_BYTES - 64)) << "payload hex cut short";
    EXPECT_EQ(daemon.next_line(), cancel_line("after", 1)) << "the refused envelope was sent";
  }).join();
}

TEST(CommandLink, WithNoDaemonAPublishFailsAfterFiveSecondsAndTheSetIsKept) {
  std::thread([] {
    const auto start = std::chrono::steady_clock::now();
    auto result = publish_envelope(cancel("nobody", 1));
    ASSERT_FALSE(result.ok());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(publisher_error_text(result.error()),
              "failed to send sample: no data-daemon command subscriber connected within 5s");

    DevDaemon daemon;
    ASSERT_TRUE(daemon.ready());
    EXPECT_TRUE(publish_envelope(cancel("somebody", 2)).ok());
    EXPECT_EQ(daemon.next_line(), cancel_line("somebody", 2)) << "the failed one came late";
    EXPECT_EQ(ipc_handles_build_count(), 1u);
  }).join();
}

TEST(CommandLink, AFailedBuildIsRetriedInFullOnTheNextCallAndASuccessfulOneNeverAgain) {
  std::thread([] {
    {
      // A rival made the commands service with safe overflow on; ours must have it off, so the
      // open fails.
      auto node = data_daemon_ipc::Node::create().value();
      auto name = data_daemon_ipc::ServiceName::create(kCommandsService).value();
      auto settings = kCommandsServiceSettings;
      settings.enable_safe_overflow = true;
      auto rival =
          data_daemon_ipc::PortFactoryPublishSubscribe::open_or_create(node, name, settings);
      ASSERT_TRUE(rival.ok()) << rival.error().text;

      auto failed = publish_envelope(cancel("x", 1));
      ASSERT_FALSE(failed.ok());
      EXPECT_EQ(publisher_error_text(failed.error()),
                "failed to open service: PublishSubscribeOpenOrCreateError::"
                "PublishSubscribeOpenError(IncompatibleOverflowBehavior)");
      EXPECT_FALSE(means_no_daemon(failed.error())) << "a misfit service is no missing daemon";
      EXPECT_EQ(ipc_handles_build_count(), 1u);
    }
    // The rival is gone: the next call builds again from the node up, and never after.
    DevDaemon daemon;
    ASSERT_TRUE(daemon.ready());
    EXPECT_TRUE(publish_envelope(cancel("x", 2)).ok());
    EXPECT_EQ(ipc_handles_build_count(), 2u);
    EXPECT_TRUE(publish_envelope(cancel("x", 3)).ok());
    EXPECT_EQ(ipc_handles_build_count(), 2u);
    EXPECT_EQ(daemon.next_line(), cancel_line("x", 2));
    EXPECT_EQ(daemon.next_line(), cancel_line("x", 3));
  }).join();
}

// With no daemon the services live only while a thread holds them: each thread below creates
// them, and removes them as it ends, while the next one, started once the previous has its
// answer (as a Python thread's join returns before its thread-local storage is gone), is already
// opening them. What it finds half created or half removed is no daemon, like the services'
// absence: a query without a reply, a publish (here with no wait) that reached no subscriber.
TEST(CommandLink, ThreadsThatComeAndGoWithNoDaemonTakeServicesInTransitionAsNoDaemon) {
  constexpr int kThreads = 200;
  const std::string no_subscriber =
      "failed to send sample: no data-daemon command subscriber connected within 5s";
  std::vector<std::string> errors;
  int answered = 0;
  std::thread ending;
  for (int i = 0; i < kThreads; ++i) {
    std::latch done(1);
    std::thread next([&, i] {
      if (i % 2 == 0) {
        auto ready = query_health(0.0);
        if (!ready) {
          errors.push_back(publisher_error_text(ready.error()));
        } else if (ready.value()) {
          ++answered;
        }
      } else {
        auto sent = publish_envelope(cancel("churn", i), 0s);
        if (sent) {
          ++answered;
        } else if (publisher_error_text(sent.error()) != no_subscriber) {
          errors.push_back(publisher_error_text(sent.error()));
        }
      }
      done.count_down();
    });
    done.wait();
    if (ending.joinable()) ending.join();
    ending = std::move(next);
  }
  ending.join();
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(errors, std::vector<std::string>{});
}

TEST(CommandLink, AForkedChildBuildsItsOwnSetAndLeavesTheParentsAlone) {
  DevDaemon daemon;
  ASSERT_TRUE(daemon.ready());
  // On a thread of its own, so that the process holds no handle set once the test is over.
  std::thread([&daemon] {
    ASSERT_TRUE(publish_envelope(cancel("parent", 1)).ok());
    EXPECT_EQ(daemon.next_line(), cancel_line("parent", 1));
    const uint64_t parent_builds = ipc_handles_build_count();

    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The inherited set was forgotten at the fork: this publish builds a new one, node first.
      const bool published = publish_envelope(cancel("child", 2)).ok();
      const bool rebuilt = ipc_handles_build_count() == parent_builds + 1;
      char byte;
      (void)!read(go[0], &byte, 1);  // the parent has seen the envelope arrive
      _exit(published && rebuilt ? 0 : 1);
    }
    EXPECT_EQ(daemon.next_line(), cancel_line("child", 2));
    (void)!write(go[1], "x", 1);
    close(go[0]);
    close(go[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    // The parent's set still works after the child has gone.
    EXPECT_TRUE(publish_envelope(cancel("parent", 3)).ok());
    EXPECT_EQ(ipc_handles_build_count(), parent_builds);
    EXPECT_EQ(daemon.next_line(), cancel_line("parent", 3));
  }).join();
}

// The process's exit: the exiting thread waits out its set's grace first; from then on every set
// is kept, at once and without a grace of its own, and what each sent reaches the daemon. In a
// child, since the exit's preparation is for good.
TEST(CommandLink, AtTheExitTheThreadWaitsOutItsGraceOnceAndEverySetIsKeptAfterThat) {
  DevDaemon daemon;
  ASSERT_TRUE(daemon.ready());
  std::thread([&daemon] {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      using Clock = std::chrono::steady_clock;
      bool published = publish_envelope(cancel("exit", 1)).ok();
      const Clock::time_point first_sent = Clock::now();
      prepare_ipc_handles_for_exit();
      const bool graced = Clock::now() - first_sent >= kReleaseGrace;
      Clock::time_point second_sent;
      std::thread([&] {
        published = publish_envelope(cancel("exit", 2)).ok() && published;
        second_sent = Clock::now();
      }).join();  // its set goes as the thread ends
      const bool waited_again = Clock::now() - second_sent >= kReleaseGrace;
      _exit(!published ? 1 : !graced ? 2 : waited_again ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // 1: a publish failed; 2: the exit's wait ended before the grace; 3: the second thread's end
    // waited out a grace of its own.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(daemon.next_line(), cancel_line("exit", 1));
    EXPECT_EQ(daemon.next_line(), cancel_line("exit", 2));
  }).join();
}

TEST(CommandLink, ASecondBorrowOnOneThreadIsABrokenInvariant) {
  std::thread([] {
    {
      auto borrow = borrow_ipc_handles();
      ASSERT_TRUE(borrow.ok()) << publisher_error_text(borrow.error());
      EXPECT_THROW((void)borrow_ipc_handles(), data_daemon_shared::Panic);
    }
    // The first borrow was given back when it went; the set is still there.
    EXPECT_TRUE(borrow_ipc_handles().ok());
    EXPECT_EQ(ipc_handles_build_count(), 1u);
  }).join();
}

TEST(CommandLink, The129thThreadGetsTheLibrarysPublisherLimitError) {
  constexpr int kHolders = 128;
  std::barrier built(kHolders + 1);
  std::barrier release(kHolders + 1);
  std::vector<std::thread> holders;
  std::atomic<int> failures{0};
  std::latch services_made(1);
  for (int i = 0; i < kHolders; ++i) {
    holders.emplace_back([&, i] {
      auto borrow = borrow_ipc_handles();
      if (!borrow) {
        ++failures;
        ADD_FAILURE() << publisher_error_text(borrow.error());
      }
      if (i == 0) services_made.count_down();
      built.arrive_and_wait();
      release.arrive_and_wait();
    });
    // The first set creates the services; the others only open them. (Threads that race to
    // create a service can see the library's HangsInCreation when the creator is slow.)
    if (i == 0) services_made.wait();
  }
  built.arrive_and_wait();
  EXPECT_EQ(failures.load(), 0);
  if (failures.load() == 0) {
    std::thread([] {
      auto borrow = borrow_ipc_handles();
      ASSERT_FALSE(borrow.ok());
      EXPECT_EQ(publisher_error_text(borrow.error()),
                "failed to create publisher: PublisherCreateError::ExceedsMaxSupportedPublishers");
    }).join();
  }
  release.arrive_and_wait();
  for (auto& t : holders) t.join();
}

// iceoryx2 puts its own handlers in place of the host's only when a node that handles termination
// requests is waited on. The module never waits on a node, so the handlers alone cannot tell
// whether its nodes would: the test asks the node too.
TEST(CommandLink, TheHostsSignalHandlersStayInPlace) {
  // A host's handlers, installed before the module first publishes, as Python's are.
  struct sigaction ours {};
  ours.sa_handler = [](int) {};
  sigemptyset(&ours.sa_mask);
  const int host_signals[] = {SIGINT, SIGTERM};
  struct sigaction saved[2];
  for (int i = 0; i < 2; ++i) sigaction(host_signals[i], &ours, &saved[i]);
  // Signals the host left alone; iceoryx2 would take these too if it installed its handlers.
  const int untouched[] = {SIGQUIT, SIGUSR1, SIGUSR2, SIGTSTP};
  struct sigaction before[4];
  for (int i = 0; i < 4; ++i) sigaction(untouched[i], nullptr, &before[i]);

  {
    DevDaemon daemon;
    ASSERT_TRUE(daemon.ready());
    std::thread([] {
      EXPECT_TRUE(publish_envelope(cancel("signals", 1)).ok());
      auto borrow = borrow_ipc_handles();
      ASSERT_TRUE(borrow.ok());
      EXPECT_FALSE(borrow.value().handles().node.handles_termination_requests());
    }).join();
  }

  for (int i = 0; i < 2; ++i) {
    struct sigaction now {};
    sigaction(host_signals[i], nullptr, &now);
    EXPECT_EQ(now.sa_handler, ours.sa_handler) << "signal " << host_signals[i];
    sigaction(host_signals[i], &saved[i], nullptr);
  }
  for (int i = 0; i < 4; ++i) {
    struct sigaction now {};
    sigaction(untouched[i], nullptr, &now);
    EXPECT_EQ(now.sa_handler, before[i].sa_handler) << "signal " << untouched[i];
  }
}

TEST(CommandLink, TheLibrarysLogGoesToTheEventSinkAndNeverToStderr) {
  // Separate processes, each building its first set: the library reports then which
  // configuration file it loaded, or warns that it found none.
  ChildProcess silent({helper_path("link_probe")}, ChildProcess::Stderr::Merge);
  EXPECT_EQ(silent.read_line(), "built");
  EXPECT_EQ(silent.read_line(), std::nullopt) << "more output than the probe's own";
  EXPECT_EQ(silent.wait(), 0);

  ChildProcess with_sink({helper_path("link_probe"), "--sink"}, ChildProcess::Stderr::Merge);
  std::vector<std::string> lines;
  while (auto line = with_sink.read_line()) lines.push_back(*line);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "built");
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& line) {
                           return line.ends_with(" data_daemon_bridge::ipc | iceoryx2 log");
                         }),
            lines.end());
}

// One request on `client`; the first response, if one comes within `limit`.
std::optional<std::vector<uint8_t>> ask(const data_daemon_ipc::Client& client,
                                        const std::vector<uint8_t>& request,
                                        std::chrono::milliseconds limit) {
  auto loan = client.loan_slice_uninit(request.size());
  if (!loan) return std::nullopt;
  std::copy(request.begin(), request.end(), loan.value().payload_mut().begin());
  auto pending = data_daemon_ipc::send(std::move(loan).value());
  if (!pending) return std::nullopt;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    auto response = pending.value().receive();
    if (response && response.value()) {
      auto payload = response.value()->payload();
      return std::vector<uint8_t>(payload.begin(), payload.end());
    }
    std::this_thread::sleep_for(1ms);
  }
  return std::nullopt;
}

TEST(DevDaemonQueries, AnswersEachQueryWithTheValuesOfItsOptions) {
  const auto recording_request =
      encode_recording_id_request(RecordingIdRequest{"arm", 0, 1'700'000'000}).value();
  const auto id_request = encode_request_id(42).value();
  {
    DevDaemon daemon({"--ready-value", "7", "--version-text", "v9", "--recording-id", "rec-1"});
    ASSERT_TRUE(daemon.ready());
    std::thread([&] {
      auto borrow = borrow_ipc_handles();
      ASSERT_TRUE(borrow.ok());
      const IpcHandles& h = borrow.value().handles();
      auto health = ask(h.health_client, id_request, 20s);
      ASSERT_TRUE(health.has_value());
      EXPECT_EQ(decode_health_reply(*health).value(), (HealthReply{7, 42}));
      auto version = ask(h.version_client, id_request, 20s);
      ASSERT_TRUE(version.has_value());
      EXPECT_EQ(decode_version_reply(*version).value(), (VersionReply{42, "v9"}));
      auto recording = ask(h.recording_ids_client, recording_request, 20s);
      ASSERT_TRUE(recording.has_value());
      EXPECT_EQ(decode_recording_id_reply(*recording).value(), "rec-1");
    }).join();
  }
  {
    // Defaults, and a delay: nothing within the first 100 ms, the answer after that.
    DevDaemon daemon({"--reply-delay-ms", "300"});
    ASSERT_TRUE(daemon.ready());
    std::thread([&] {
      auto borrow = borrow_ipc_handles();
      ASSERT_TRUE(borrow.ok());
      const IpcHandles& h = borrow.value().handles();
      EXPECT_FALSE(ask(h.health_client, id_request, 100ms).has_value());
      auto health = ask(h.health_client, id_request, 20s);
      ASSERT_TRUE(health.has_value());
      EXPECT_EQ(decode_health_reply(*health).value(), (HealthReply{1, 42}));
      auto recording = ask(h.recording_ids_client, recording_request, 20s);
      ASSERT_TRUE(recording.has_value());
      EXPECT_EQ(decode_recording_id_reply(*recording).value(), std::nullopt);
    }).join();
  }
}

}  // namespace
}  // namespace data_daemon_bridge
