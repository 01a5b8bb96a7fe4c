#include "data_daemon_shared/spool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "temp_dir.h"

namespace data_daemon_shared {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

TEST(DirSizeBytes, CountsRegularFilesAndFollowsNoLinks) {
  TempDir dir;
  const std::string tree = dir / "spool";
  dir.write("spool/a.bin", std::string(100, 'a'));
  dir.write("spool/sub/b.bin", std::string(50, 'b'));
  dir.write("spool/sub/deep/c.bin", std::string(7, 'c'));
  fs::create_directories(tree + "/empty");
  // Outside the tree: a 1 GiB (sparse) file and a directory with a file, both linked from it.
  const std::string big = dir.write("outside/big", "");
  fs::resize_file(big, 1ull << 30);
  dir.write("outside/dir/f", std::string(1000, 'f'));
  fs::create_symlink(big, tree + "/link_to_big");
  fs::create_directory_symlink(dir / "outside/dir", tree + "/sub/link_to_dir");
  fs::create_symlink(dir / "gone", tree + "/dangling");
  ASSERT_EQ(mkfifo((tree + "/fifo").c_str(), 0600), 0);

  EXPECT_EQ(dir_size_bytes(tree), 157u);
  EXPECT_EQ(dir_size_bytes(tree + "/"), 157u);
  // The start path itself is opened as a directory, through a link.
  fs::create_directory_symlink(tree, dir / "spool_link");
  EXPECT_EQ(dir_size_bytes(dir / "spool_link"), 157u);
  EXPECT_EQ(dir_size_bytes(dir / "outside"), (1ull << 30) + 1000);

  EXPECT_EQ(dir_size_bytes(dir / "missing"), 0u);
  EXPECT_EQ(dir_size_bytes(tree + "/a.bin"), 0u);
  EXPECT_EQ(dir_size_bytes(tree + "/empty"), 0u);
}

TEST(NsDeltaToUs, WholeMicrosecondsCapped) {
  constexpr int64_t kMin = INT64_MIN;
  constexpr int64_t kMax = INT64_MAX;
  const struct {
    int64_t start;
    int64_t t;
    uint32_t us;
  } cases[] = {
      {0, 999, 0},
      {0, 1000, 1},
      {0, 1999, 1},
      {5, 0, 0},
      {1'700'000'000'000'000'000, 1'700'000'000'123'456'789, 123'456},
      {0, 4'294'967'295'999, 4'294'967'295u},
      {0, 4'294'967'296'000, 4'294'967'295u},
      {kMin, kMax, 4'294'967'295u},
      {kMax, kMin, 0},
      {-1000, 1000, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ns_delta_to_us(c.start, c.t), c.us) << c.start << " -> " << c.t;
  }
}

}  // namespace
}  // namespace data_daemon_shared
