// The environment, profile files, the effective spool limit and the disk-measured defaults.
#include "data_daemon_shared/config.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "config_print.h"
#include "scoped_env.h"
#include "temp_dir.h"

namespace data_daemon_shared {
namespace {

using testing::clean_config_env;
using testing::ScopedEnv;
using testing::TempDir;

bool exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(EnvOverrides, ReadsEachVariableOnItsOwnTerms) {
  struct Case {
    const char* variable;
    std::string value;
    DaemonConfig expected;
  };
  const auto with = [](auto member, auto value) {
    DaemonConfig c;
    c.*member = value;
    return c;
  };
  using C = DaemonConfig;
  const Case cases[] = {
      {"QSM_STORAGE_LIMIT", " 1g", with(&C::storage_limit, int64_t{1} << 30)},
      {"QSM_BANDWIDTH_LIMIT", "300", with(&C::bandwidth_limit, int64_t{300})},
      {"QSM_SPOOL_LIMIT", "4g", with(&C::spool_limit, int64_t{4} << 30)},
      {"QSM_SPOOL_LIMIT", "10 kb", C{}},
      {"QSM_SPOOL_LIMIT", "-1", C{}},
      {"QSM_NUM_THREADS", "+8", with(&C::num_threads, int64_t{8})},
      {"QSM_NUM_THREADS", "-9223372036854775808", with(&C::num_threads, INT64_MIN)},
      {"QSM_NUM_THREADS", "8 ", C{}},
      {"QSM_NUM_THREADS", "0x8", C{}},
      {"QSM_NUM_THREADS", "+", C{}},
      {"QSM_NUM_THREADS", "9223372036854775808", C{}},
      {"QSM_OFFLINE", "YES", with(&C::offline, true)},
      {"QSM_OFFLINE", "Y", with(&C::offline, true)},
      {"QSM_OFFLINE", "1", with(&C::offline, true)},
      {"QSM_OFFLINE", "no", with(&C::offline, false)},
      {"QSM_OFFLINE", "off", with(&C::offline, false)},
      {"QSM_OFFLINE", " true", with(&C::offline, false)},
      {"QSM_OFFLINE", "", C{}},
      {"QSM_KEEP_WAKELOCK_WHILE_UPLOAD", "True", with(&C::keep_wakelock_while_upload, true)},
      {"QSM_RECORDING_REAPER", "0", with(&C::recording_reaper, false)},
      {"QSM_PATH_TO_STORE_RECORD", " /srv/rec ",
       with(&C::path_to_store_record, std::string(" /srv/rec "))},
      {"QSM_API_KEY", "k", with(&C::api_key, std::string("k"))},
      {"QSM_API_KEY", "k\xFF", C{}},  // not UTF-8: as if unset
      {"QUILLSPAN_ORG_ID", "org", with(&C::current_org_id, std::string("org"))},
      {"QSM_VIDEO_CODEC", "h264", with(&C::video_codec, std::string("h264"))},
  };
  for (const auto& c : cases) {
    auto clean = clean_config_env();
    ScopedEnv env{{c.variable, c.value}};
    EXPECT_EQ(env_overrides(), c.expected) << c.variable << "='" << c.value << "'";
  }
  auto clean = clean_config_env();
  EXPECT_EQ(env_overrides(), DaemonConfig{});
}

TEST(EnvOverrides, BooleanWords) {
  for (const char* yes : {"true", "TRUE", "Yes", "y", "1"}) EXPECT_TRUE(parse_env_bool(yes)) << yes;
  for (const char* no : {"false", "no", "0", "on", "ye", "true ", "2", "\u0131"}) {
    EXPECT_FALSE(parse_env_bool(no)) << no;
  }
}

// A home directory of its own for each case, with the profile variable pointing into it.
class ProfileTest : public ::testing::Test {
 protected:
  std::string write_profile(const std::string& name, const std::string& content) {
    return home_.write(".quillspan/data_daemon/profiles/" + name + ".yaml", content);
  }
  std::string profiles() const { return home_ / ".quillspan/data_daemon/profiles"; }

  TempDir home_;
  ScopedEnv clean_ = clean_config_env();
  ScopedEnv env_{{"HOME", home_.path()}};
};

TEST_F(ProfileTest, LoadProfile) {
  write_profile("lab", "spool_limit: 512MB\nvideo_codec: raw\n");
  auto lab = load_profile(home_.path(), "lab");
  ASSERT_TRUE(lab.ok()) << lab.error().display_text();
  DaemonConfig expected;
  expected.spool_limit = 536'870'912;
  expected.video_codec = "raw";
  EXPECT_EQ(lab.value(), expected);

  for (const char* blank : {"", " \n\t\u3000\n"}) {
    write_profile("blank", blank);
    auto config = load_profile(home_.path(), "blank");
    ASSERT_TRUE(config.ok());
    EXPECT_EQ(config.value(), DaemonConfig{});
  }

  auto missing = load_profile(home_.path(), "nope");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, ConfigError::Kind::ProfileNotFound);
  EXPECT_EQ(missing.error().profile_name, "nope");

  write_profile("latin1", "api_key: caf\xE9\n");
  auto latin1 = load_profile(home_.path(), "latin1");
  ASSERT_FALSE(latin1.ok());
  EXPECT_EQ(latin1.error().kind, ConfigError::Kind::Io);
  EXPECT_EQ(latin1.error().io.kind, IoErrorKind::InvalidData);

  std::filesystem::create_directories(profiles() + "/dir.yaml");
  auto dir = load_profile(home_.path(), "dir");
  ASSERT_FALSE(dir.ok());
  EXPECT_EQ(dir.error().kind, ConfigError::Kind::Io);
  EXPECT_EQ(dir.error().io.code, EISDIR);

  write_profile("null", "~");
  auto null = load_profile(home_.path(), "null");
  ASSERT_FALSE(null.ok());
  EXPECT_EQ(null.error().kind, ConfigError::Kind::Yaml);
  EXPECT_EQ(null.error().yaml.message, "invalid type: null, expected struct DaemonConfig");
}

TEST_F(ProfileTest, ProfilePathCreatesTheDirectoryAndTakesTheNameAsIs) {
  const mode_t old_mask = umask(0);
  auto path = profile_path(home_.path(), "a/../b");
  umask(old_mask);
  ASSERT_TRUE(path.ok());
  EXPECT_EQ(path.value(), profiles() + "/a/../b.yaml");
  struct stat status;
  ASSERT_EQ(stat(profiles().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0777u);
  EXPECT_EQ(profile_path(home_.path(), "/etc/profiles/lab").value(), "/etc/profiles/lab.yaml");
  EXPECT_EQ(profile_path(home_.path(), "x").value(), profiles() + "/x.yaml");  // exists: fine

  // A home that is a file: the directory cannot be made.
  const std::string file_home = home_.write("plain", "");
  auto blocked = profile_path(file_home, "lab");
  ASSERT_FALSE(blocked.ok());
  EXPECT_EQ(blocked.error().code, ENOTDIR);
}

TEST_F(ProfileTest, EffectiveSpoolLimit) {
  write_profile("p512", "spool_limit: 512MB");
  write_profile("zero", "spool_limit: 0");
  write_profile("neg", "spool_limit: -5");
  write_profile("none", "offline: true");
  write_profile("bad_other_key", "spool_limit: 1GB\noffline: yes");
  write_profile("repeated", "spool_limit: 1GB\nspool_limit: 1GB");
  write_profile("list", "- spool_limit: 1GB");
  write_profile("null", "~");
  write_profile("comments", "# spool_limit: 1GB\n");
  write_profile("marker", "---\n");
  const std::string elsewhere = home_.write("elsewhere/lab.yaml", "spool_limit: 1m");

  struct Case {
    std::optional<std::string> spool_variable;
    std::optional<std::string> profile;
    int64_t expected;
  };
  const Case cases[] = {
      {"4g", "p512", 4'294'967'296},
      {"0", "p512", 0},
      {"10 kb", "p512", 536'870'912},  // a bad variable is ignored
      {"-1", "p512", 536'870'912},
      {"", "p512", 536'870'912},
      {std::nullopt, "zero", 0},
      {std::nullopt, "neg", -5},
      {std::nullopt, "none", DEFAULT_SPOOL_LIMIT},
      {std::nullopt, "bad_other_key", DEFAULT_SPOOL_LIMIT},
      {std::nullopt, "repeated", DEFAULT_SPOOL_LIMIT},
      {std::nullopt, "list", DEFAULT_SPOOL_LIMIT},
      {std::nullopt, "null", DEFAULT_SPOOL_LIMIT},
      {std::nullopt, "comments", DEFAULT_SPOOL_LIMIT},
      {std::nullopt, "marker", DEFAULT_SPOOL_LIMIT},
      {std::nullopt, "missing", DEFAULT_SPOOL_LIMIT},
      {std::nullopt, elsewhere.substr(0, elsewhere.size() - 5), 1'048'576},
      {std::nullopt, std::nullopt, DEFAULT_SPOOL_LIMIT},
  };
  for (const auto& c : cases) {
    ScopedEnv env{{"QSM_SPOOL_LIMIT", c.spool_variable}, {"QUILLSPAN_DAEMON_PROFILE", c.profile}};
    EXPECT_EQ(effective_spool_limit(), c.expected)
        << c.spool_variable.value_or("(unset)") << " / " << c.profile.value_or("(unset)");
  }
}

TEST_F(ProfileTest, ProfilesRefusedForWhatTheyAreAreReportedBesideTheFallback) {
  std::filesystem::create_directories(profiles() + "/dir.yaml");
  ASSERT_EQ(mkfifo((profiles() + "/fifo.yaml").c_str(), 0666), 0);  // no writer: would block
  ASSERT_EQ(symlink("/dev/zero", (profiles() + "/zero.yaml").c_str()), 0);  // would never end
  ASSERT_EQ(symlink("loop.yaml", (profiles() + "/loop.yaml").c_str()), 0);
  std::string at_bound = "spool_limit: 1k\n#";
  at_bound.resize(kMaxProfileBytes, '#');
  write_profile("at_bound", at_bound);
  write_profile("over_bound", at_bound + "#");
  const std::string key = "spool_limit: ";
  const size_t levels = (kMaxProfileBytes - key.size()) / 2;  // as many as the bound allows
  write_profile("nested", key + std::string(levels, '[') + std::string(levels, ']'));
  write_profile("faulty", "spool_limit: 1k\noffline: yes\n");

  struct Case {
    const char* name;
    int64_t limit;
    const char* refusal;  // nullptr: not refused
  };
  const Case cases[] = {
      {"fifo", DEFAULT_SPOOL_LIMIT, "I/O error: not a regular file"},
      {"zero", DEFAULT_SPOOL_LIMIT, "I/O error: not a regular file"},
      {"dir", DEFAULT_SPOOL_LIMIT, "I/O error: Is a directory (os error 21)"},
      {"loop", DEFAULT_SPOOL_LIMIT, "I/O error: Too many levels of symbolic links (os error 40)"},
      {"over_bound", DEFAULT_SPOOL_LIMIT, "I/O error: File too large (os error 27)"},
      {"nested", DEFAULT_SPOOL_LIMIT,
       "YAML error: nesting deeper than 64 levels at line 1 column 77"},
      {"at_bound", 1024, nullptr},
      // Faults of the profile itself are dropped as they always were.
      {"faulty", DEFAULT_SPOOL_LIMIT, nullptr},
      {"missing", DEFAULT_SPOOL_LIMIT, nullptr},
  };
  // A read that blocks ends the run (SIGALRM) rather than hanging it.
  struct Alarm {
    Alarm() { alarm(60); }
    ~Alarm() { alarm(0); }
  } alarm_while_reading;
  for (const auto& c : cases) {
    ScopedEnv env{{"QUILLSPAN_DAEMON_PROFILE", c.name}};
    const SpoolLimit limit = resolve_spool_limit();
    EXPECT_EQ(limit.bytes, c.limit) << c.name;
    EXPECT_EQ(effective_spool_limit(), c.limit) << c.name;
    if (c.refusal == nullptr) {
      EXPECT_FALSE(limit.refused) << c.name;
      continue;
    }
    ASSERT_TRUE(limit.refused) << c.name;
    EXPECT_EQ(limit.refused->path, profiles() + "/" + c.name + ".yaml");
    EXPECT_EQ(limit.refused->error.display_text(), c.refusal);
  }
}

// A FIFO, or a link to one, named as the profile is refused by its type alone and never opened:
// the open of a special file does whatever that file's open does. inotify sees every open.
TEST_F(ProfileTest, ASpecialFileNamedAsTheProfileIsNeverOpened) {
  std::filesystem::create_directories(profiles());
  const std::string fifo = profiles() + "/fifo.yaml";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(symlink("fifo.yaml", (profiles() + "/to_fifo.yaml").c_str()), 0);
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
  for (const char* name : {"fifo", "to_fifo"}) {
    ScopedEnv env{{"QUILLSPAN_DAEMON_PROFILE", name}};
    const SpoolLimit limit = resolve_spool_limit();
    ASSERT_TRUE(limit.refused) << name;
    EXPECT_EQ(limit.refused->error.display_text(), "I/O error: not a regular file") << name;
    char events[4096];
    EXPECT_EQ(read(watch, events, sizeof events), -1) << name << " was opened";
    EXPECT_EQ(errno, EAGAIN) << name;
  }
  close(watch);
}

TEST_F(ProfileTest, EffectiveSpoolLimitTouchesNoDirectoryUnlessAProfileIsNamed) {
  for (const auto& profile : {std::optional<std::string>(), std::optional<std::string>("")}) {
    ScopedEnv env{{"QUILLSPAN_DAEMON_PROFILE", profile}};
    EXPECT_EQ(effective_spool_limit(), DEFAULT_SPOOL_LIMIT);
    EXPECT_FALSE(exists(home_ / ".quillspan"));
  }
  {
    ScopedEnv env{{"QUILLSPAN_DAEMON_PROFILE", "lab"}, {"QSM_SPOOL_LIMIT", "1k"}};
    EXPECT_EQ(effective_spool_limit(), 1024);
    EXPECT_FALSE(exists(home_ / ".quillspan"));  // the variable wins before any profile is read
  }
  ScopedEnv env{{"QUILLSPAN_DAEMON_PROFILE", "lab"}};
  EXPECT_EQ(effective_spool_limit(), DEFAULT_SPOOL_LIMIT);
  EXPECT_TRUE(std::filesystem::is_directory(profiles()));
}

// default_config with the file system's figures supplied.
class DefaultConfigTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedEnv clean_ = clean_config_env();
  std::string root_ = dir_ / "new/recordings";
  ScopedEnv env_{{"QUILLSPAN_DAEMON_RECORDINGS_ROOT", root_}, {"HOME", dir_ / "home"}};
};

TEST_F(DefaultConfigTest, LimitsFromTheAvailableSpace) {
  struct Case {
    FsSpace space;
    int64_t storage;
    int64_t bandwidth;
  };
  const Case cases[] = {
      // 10 GiB: a bandwidth of 124,275 is raised to the floor.
      {{4096, 2'621'440}, 5'368'709'120, 1'048'576},
      // 2 TiB: a bandwidth of 25,451,658 is lowered to the ceiling.
      {{4096, 536'870'912}, 1'099'511'627'776, 20'971'520},
      // In between, storage / 43,200 truncated.
      {{1, 1'000'000'000'000}, 500'000'000'000, 11'574'074},
      // A product past 64 bits saturates; so does the conversion to i64.
      {{1ull << 32, 1ull << 33}, INT64_MAX, 20'971'520},
      {{0, 0}, 0, 1'048'576},
  };
  for (const auto& c : cases) {
    std::string measured;
    auto config = default_config([&](const std::string& path) -> Result<FsSpace, IoError> {
      measured = path;
      return c.space;
    });
    ASSERT_TRUE(config.ok());
    DaemonConfig expected;
    expected.storage_limit = c.storage;
    expected.bandwidth_limit = c.bandwidth;
    expected.spool_limit = DEFAULT_SPOOL_LIMIT;
    expected.path_to_store_record = root_;
    expected.num_threads = 1;
    expected.keep_wakelock_while_upload = false;
    expected.offline = false;
    expected.recording_reaper = true;
    EXPECT_EQ(config.value(), expected) << c.space.available_blocks;
    EXPECT_EQ(measured, root_);
    EXPECT_TRUE(std::filesystem::is_directory(root_));
  }
}

TEST_F(DefaultConfigTest, Failures) {
  auto unmeasured = default_config(
      [](const std::string&) -> Result<FsSpace, IoError> { return Err(IoError::from_errno(EIO)); });
  ASSERT_FALSE(unmeasured.ok());
  EXPECT_EQ(unmeasured.error().code, EIO);

  ScopedEnv blocked{{"QUILLSPAN_DAEMON_RECORDINGS_ROOT", dir_.write("file", "") + "/rec"}};
  auto unmade = default_config();
  ASSERT_FALSE(unmade.ok());
  EXPECT_EQ(unmade.error().code, ENOTDIR);
}

TEST_F(DefaultConfigTest, RealDiskThroughLoadProfileWithoutAName) {
  // A root below a home that is not UTF-8 is created as is and reported with U+FFFD.
  const std::string home = dir_ / "h\xFF";
  ScopedEnv env{{"QUILLSPAN_DAEMON_RECORDINGS_ROOT", std::nullopt}, {"HOME", home}};
  auto config = load_profile("/unused-home", std::nullopt);
  ASSERT_TRUE(config.ok()) << config.error().display_text();
  EXPECT_GE(*config.value().storage_limit, 0);
  EXPECT_EQ(config.value().path_to_store_record,
            dir_ / "h\uFFFD/.quillspan/data_daemon/recordings");
  EXPECT_TRUE(std::filesystem::is_directory(home + "/.quillspan/data_daemon/recordings"));
}

}  // namespace
}  // namespace data_daemon_shared
