#include "data_daemon_shared/paths.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "scoped_env.h"

namespace data_daemon_shared {
namespace {

using testing::clean_config_env;
using testing::ScopedEnv;

TEST(PathRules, JoinAndParent) {
  const struct {
    const char* base;
    const char* component;
    const char* joined;
  } joins[] = {
      {"/home/u", "x", "/home/u/x"}, {"/home/u/", "x", "/home/u/x"},  {"", "x", "x"},
      {"/home/u", "", "/home/u/"},   {"/home/u", "/etc/x", "/etc/x"}, {"/", "x", "/x"},
  };
  for (const auto& c : joins) {
    EXPECT_EQ(join_path(c.base, c.component), c.joined) << c.base << " + " << c.component;
  }

  const struct {
    const char* path;
    std::optional<std::string> parent;
  } parents[] = {
      {"/var/lib/rec/state.db", "/var/lib/rec"},
      {"state.db", ""},
      {"/state.db", "/"},
      {"/", std::nullopt},
      {"//", std::nullopt},
      {"/.", std::nullopt},
      {"", std::nullopt},
      {"/home/u/", "/home"},
      {"a//b", "a"},
      {"a/./b/.", "a"},
      {"./a", "."},
      {".", ""},
      {"a/..", "a"},
  };
  for (const auto& c : parents) {
    EXPECT_EQ(parent_path(c.path), c.parent) << "'" << c.path << "'";
  }
}

TEST(PathRules, DatabasePathAndRecordingsRoot) {
  struct Case {
    std::optional<std::string> root_variable;
    std::optional<std::string> db_variable;
    const char* db;  // nullptr: not asked
    const char* root;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, "/home/u/.quillspan/data_daemon/state.db",
       "/home/u/.quillspan/data_daemon/recordings"},
      {"/data/rec", "/var/lib/rec/state.db", nullptr, "/data/rec"},
      {"~/rec", std::nullopt, nullptr, "~/rec"},  // taken as is
      {"", "/var/lib/rec/state.db", "/var/lib/rec/state.db", "/var/lib/rec/recordings"},
      {std::nullopt, "state.db", "state.db", "recordings"},
      {std::nullopt, "/", "/", "./recordings"},
      {std::nullopt, "~", "/home/u", "/home/recordings"},
      {std::nullopt, "~/", "/home/u/", "/home/recordings"},
      {std::nullopt, "~/db/state.db", "/home/u/db/state.db", "/home/u/db/recordings"},
      {std::nullopt, "~//srv/db", "/srv/db", "/srv/recordings"},
      {std::nullopt, "~u/db", "~u/db", "~u/recordings"},
      {std::nullopt, "db/~/x", "db/~/x", "db/~/recordings"},
      {std::nullopt, "\xFF/state.db", "/home/u/.quillspan/data_daemon/state.db",
       "/home/u/.quillspan/data_daemon/recordings"},  // not UTF-8: as if unset
      {"\xFF", std::nullopt, nullptr, "/home/u/.quillspan/data_daemon/recordings"},
  };
  for (const auto& c : cases) {
    auto clean = clean_config_env();
    ScopedEnv env{{"HOME", "/home/u"},
                  {"QUILLSPAN_DAEMON_RECORDINGS_ROOT", c.root_variable},
                  {"QUILLSPAN_DAEMON_DB_PATH", c.db_variable}};
    const std::string label =
        c.root_variable.value_or("(unset)") + " / " + c.db_variable.value_or("(unset)");
    if (c.db) {
      auto db = db_path();
      ASSERT_TRUE(db.ok()) << label;
      EXPECT_EQ(db.value(), c.db) << label;
    }
    auto root = recordings_root();
    ASSERT_TRUE(root.ok()) << label;
    EXPECT_EQ(root.value(), c.root) << label;
  }
}

TEST(PathRules, HomeDirectory) {
  {
    ScopedEnv env{{"HOME", "relative\xFF"}};  // any bytes, need not be absolute or exist
    EXPECT_EQ(user_home_dir(), "relative\xFF");
  }
  // An empty HOME is unset: the password database answers.
  ScopedEnv env{{"HOME", ""}};
  const passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(user_home_dir(), std::string(entry->pw_dir));
}

TEST(PathRules, HomeDirUnavailableTexts) {
  EXPECT_EQ(HomeDirUnavailable::kDebugText, "HomeDirUnavailable");
  EXPECT_EQ(HomeDirUnavailable{}.display_text(),
            "could not determine the user's home directory; set QUILLSPAN_DAEMON_RECORDINGS_ROOT "
            "(or QUILLSPAN_DAEMON_DB_PATH) to an absolute path");
}

}  // namespace
}  // namespace data_daemon_shared
