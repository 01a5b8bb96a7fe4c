#include "data_daemon_shared/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <limits>
#include <memory>
#include <vector>

#include "data_daemon_shared/paths.h"

namespace data_daemon_shared {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

enum class EntryType { Directory, Regular, Other, Unknown };

EntryType listed_type(const dirent& entry) {
  switch (entry.d_type) {
    case DT_DIR: return EntryType::Directory;
    case DT_REG: return EntryType::Regular;
    case DT_UNKNOWN: return EntryType::Unknown;
    default: return EntryType::Other;
  }
}

}  // namespace

uint64_t dir_size_bytes(const std::string& path) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t total = 0;
  std::vector<std::string> pending{path};
  while (!pending.empty()) {
    const std::string dir_path = std::move(pending.back());
    pending.pop_back();
    std::unique_ptr<DIR, DirCloser> dir(opendir(dir_path.c_str()));
    if (!dir) continue;
    const int dir_fd = dirfd(dir.get());
    // A failed read ends this directory's listing the same way its end does.
    while (const dirent* entry = readdir(dir.get())) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      struct stat status;
      EntryType type = listed_type(*entry);
      if (type == EntryType::Unknown) {
        if (fstatat(dir_fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        type = S_ISDIR(status.st_mode)   ? EntryType::Directory
               : S_ISREG(status.st_mode) ? EntryType::Regular
                                         : EntryType::Other;
      }
      if (type == EntryType::Directory) {
        pending.push_back(join_path(dir_path, name));
      } else if (type == EntryType::Regular) {
        if (fstatat(dir_fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const uint64_t length = static_cast<uint64_t>(status.st_size);
        total = length > kMax - total ? kMax : total + length;
      }
    }
  }
  return total;
}

uint32_t ns_delta_to_us(int64_t start_ns, int64_t t_ns) {
  int64_t delta;
  if (__builtin_sub_overflow(t_ns, start_ns, &delta)) {
    delta = t_ns > start_ns ? std::numeric_limits<int64_t>::max() : 0;
  }
  if (delta <= 0) return 0;
  constexpr int64_t kLast = 4'294'967'295'999;
  if (delta > kLast) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(delta / 1000);
}

}  // namespace data_daemon_shared
