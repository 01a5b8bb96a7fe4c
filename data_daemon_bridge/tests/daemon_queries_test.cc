// The daemon queries against a daemon side in another process (tests/query_peer.cc) that answers
// late, wrongly, or not at all.
#include "query/daemon_queries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data_daemon_shared/query.h"
#include "support/child_process.h"
#include "support/peer_output.h"

namespace data_daemon_bridge {
namespace {

using testing::ChildProcess;
using testing::helper_path;

constexpr const char* kHealth = "quillspan/data_daemon/health";
constexpr const char* kVersion = "quillspan/data_daemon/version";
constexpr const char* kRecordingIds = "quillspan/data_daemon/recording_ids";

class DaemonQueries : public ::testing::Test {
 protected:
  // A query peer on `service` carrying out `actions`, serving once this returns.
  std::unique_ptr<ChildProcess> peer(const char* service, std::vector<std::string> actions) {
    std::vector<std::string> argv = {helper_path("query_peer"), service};
    argv.insert(argv.end(), actions.begin(), actions.end());
    return testing::start_ready_peer(argv);
  }
};

TEST_F(DaemonQueries, HealthSkipsNotReadyAndForeignRepliesAndResendsTheSameRequestId) {
  auto daemon = peer(kHealth, {"health:0", "health-other:5", "health:7"});
  auto result = query_health(20);
  ASSERT_TRUE(result.ok()) << publisher_error_text(result.error());
  EXPECT_EQ(result.value(), 7u);
  const auto seen = testing::read_lines(*daemon, 3);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[1], seen[2]);
}

TEST_F(DaemonQueries, VersionIgnoresAForeignEchoAndALateReplyOfAnEarlierAttempt) {
  // The first request is answered after its attempt's window closed; a later attempt must not
  // take that reply for its own.
  auto daemon = peer(kVersion, {"version:stale@150", "version-other:foreign", "version:1.2.3"});
  auto result = query_daemon_version(20);
  ASSERT_TRUE(result.ok()) << publisher_error_text(result.error());
  EXPECT_EQ(result.value(), "1.2.3");
}

TEST_F(DaemonQueries, RecordingIdWaitsOutRepliesWithoutAnIdAndTakesAnEmptyOne) {
  const auto request = data_daemon_shared::encode_recording_id_request({"arm", 1, 150}).value();
  auto daemon = peer(kRecordingIds, {"no-id", "no-id", "id:"});
  auto result = query_recording_id(request, 20);
  ASSERT_TRUE(result.ok()) << publisher_error_text(result.error());
  EXPECT_EQ(result.value(), std::optional<std::string>(""));
  EXPECT_EQ(testing::read_lines(*daemon, 3), std::vector<std::string>(3, "request 0361726d02ac02"));
}

// The error of one query, or "ok" when it succeeded. `n` varies the request between calls.
using ErrorOf = std::function<std::string(int n)>;

template <class T>
std::string error_text(const QueryResult<T>& result) {
  if (result.ok()) return "ok";
  EXPECT_TRUE(std::holds_alternative<PublisherError::Codec>(result.error().value));
  return publisher_error_text(result.error());
}

TEST_F(DaemonQueries, AnUndecodableReplyEndsTheQueryAtOnce) {
  const struct {
    const char* service;
    const char* reply;
    const char* text;
    ErrorOf query;
  } cases[] = {
      {kHealth, "bytes:ff", "failed to decode envelope: Hit the end of buffer, expected more data",
       [](int) { return error_text(query_health(20)); }},
      {kVersion, "bytes:0504fffefdfc", "failed to decode envelope: Tried to parse invalid utf-8",
       [](int) { return error_text(query_daemon_version(20)); }},
      {kRecordingIds, "bytes:02",
       "failed to decode envelope: Found an Option discriminant that wasn't 0 or 1",
       [](int n) {
         const auto request =
             data_daemon_shared::encode_recording_id_request({"arm", 1, n}).value();
         return error_text(query_recording_id(request, 20));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.service);
    auto daemon = peer(c.service, {c.reply});
    EXPECT_EQ(c.query(1), c.text);
    // No retry: the next request the peer sees is already the second query's own.
    EXPECT_EQ(c.query(2), c.text);
    const auto seen = testing::read_lines(*daemon, 2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0], seen[1]);
  }
}

TEST_F(DaemonQueries, ATimeOutOfZeroNanOrBelowZeroMakesExactlyOneAttempt) {
  auto daemon = peer(kHealth, {"drop"});
  for (double timeout : {0.0, std::numeric_limits<double>::quiet_NaN(), -1.0}) {
    auto result = query_health(timeout);
    ASSERT_TRUE(result.ok()) << publisher_error_text(result.error());
    EXPECT_FALSE(result.value().has_value()) << timeout;
  }
  // Each query has its own request id: three queries of one attempt each are three distinct
  // requests, and a fourth shows that nothing else was sent in between.
  (void)query_health(0);
  const auto seen = testing::read_lines(*daemon, 4);
  ASSERT_EQ(seen.size(), 4u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_NE(seen[i - 1], seen[i]);
}

// A simulated monotonic clock that moves only when a query sleeps, and the sleeps, in order.
std::chrono::steady_clock::time_point simulated_now{};
std::vector<std::chrono::nanoseconds> simulated_sleeps;
constexpr QueryPacer kSimulated{
    [] { return simulated_now; },
    [](std::chrono::nanoseconds duration) {
      simulated_sleeps.push_back(duration);
      simulated_now += duration;
    },
};

// The sleeps in runs: "2ms x10, 25ms" for ten sleeps of 2 ms and then one of 25 ms.
std::string sleep_runs(const std::vector<std::chrono::nanoseconds>& sleeps) {
  std::string text;
  for (size_t i = 0; i < sleeps.size();) {
    size_t n = 1;
    while (i + n < sleeps.size() && sleeps[i + n] == sleeps[i]) ++n;
    if (!text.empty()) text += ", ";
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(sleeps[i]).count();
    text += us % 1000 == 0 ? std::to_string(us / 1000) + "ms" : std::to_string(us) + "us";
    if (n > 1) text += " x" + std::to_string(n);
    i += n;
  }
  return text;
}

// How long each attempt polls for its reply and how long a query sleeps between attempts, on the
// simulated clock, against a daemon side that never answers: an attempt polls at once and then
// every 2 ms until its window has passed (20 ms, 40 ms for the recording id), and the query
// sleeps 25 ms (50 ms) before the next attempt until an attempt ends at or past the deadline.
TEST_F(DaemonQueries, ReplyWindowsAndRetryIntervals) {
  using QueryOf = std::function<bool(double timeout_s)>;  // true: ended without an answer
  const auto id_request = data_daemon_shared::encode_recording_id_request({"arm", 0, 1}).value();
  const struct {
    const char* service;
    double timeout_s;
    QueryOf query;
    size_t attempts;
    const char* sleeps;
  } cases[] = {
      {kHealth, 0.1,
       [](double t) {
         auto r = query_health(t, kSimulated);
         return r.ok() && !r.value();
       },
       3, "2ms x10, 25ms, 2ms x10, 25ms, 2ms x10"},
      {kVersion, 0.1,
       [](double t) {
         auto r = query_daemon_version(t, kSimulated);
         return r.ok() && !r.value();
       },
       3, "2ms x10, 25ms, 2ms x10, 25ms, 2ms x10"},
      {kRecordingIds, 0.1,
       [&](double t) {
         auto r = query_recording_id(id_request, t, kSimulated);
         return r.ok() && !r.value();
       },
       2, "2ms x20, 50ms, 2ms x20"},
      // The first window closes exactly at the deadline: no second attempt.
      {kHealth, 0.02,
       [](double t) {
         auto r = query_health(t, kSimulated);
         return r.ok() && !r.value();
       },
       1, "2ms x10"},
  };
  std::map<std::string, std::unique_ptr<ChildProcess>> daemons;
  for (const char* service : {kHealth, kVersion, kRecordingIds}) {
    daemons[service] = peer(service, {"drop"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.service) + " " + std::to_string(c.timeout_s));
    simulated_now = {};
    simulated_sleeps.clear();
    EXPECT_TRUE(c.query(c.timeout_s));
    EXPECT_EQ(sleep_runs(simulated_sleeps), c.sleeps);
    // Every attempt sent its request.
    EXPECT_EQ(testing::read_lines(*daemons[c.service], c.attempts).size(), c.attempts);
  }
}

TEST_F(DaemonQueries, WithNoDaemonEachQueryReturnsNothingAfterItsTimeOut) {
  const auto id_request = data_daemon_shared::encode_recording_id_request({"arm", 0, 1}).value();
  auto version = query_daemon_version(0.05);
  ASSERT_TRUE(version.ok()) << publisher_error_text(version.error());
  EXPECT_FALSE(version.value().has_value());
  auto health = query_health(0);
  ASSERT_TRUE(health.ok()) << publisher_error_text(health.error());
  EXPECT_FALSE(health.value().has_value());
  auto id = query_recording_id(id_request, 0.1);
  ASSERT_TRUE(id.ok()) << publisher_error_text(id.error());
  EXPECT_FALSE(id.value().has_value());
}

}  // namespace
}  // namespace data_daemon_bridge
