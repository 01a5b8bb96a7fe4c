#include "data_daemon_shared/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "env_var.h"

namespace data_daemon_shared {

std::string HomeDirUnavailable::display_text() const {
  return "could not determine the user's home directory; set QUILLSPAN_DAEMON_RECORDINGS_ROOT "
         "(or QUILLSPAN_DAEMON_DB_PATH) to an absolute path";
}

std::string join_path(std::string_view base, std::string_view component) {
  if (!component.empty() && component[0] == '/') return std::string(component);
  std::string out(base);
  if (!out.empty() && out.back() != '/') out += '/';
  out += component;
  return out;
}

std::optional<std::string> parent_path(std::string_view path) {
  // The end offsets of the components that count, in order.
  const bool rooted = !path.empty() && path[0] == '/';
  std::vector<size_t> ends;
  size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    const size_t start = i;
    while (i < path.size() && path[i] != '/') ++i;
    const std::string_view part = path.substr(start, i - start);
    if (part.empty() || (part == "." && start != 0)) continue;
    ends.push_back(i);
  }
  if (ends.empty()) return std::nullopt;  // "" or only the root
  ends.pop_back();
  if (!ends.empty()) return std::string(path.substr(0, ends.back()));
  return rooted ? std::string("/") : std::string();
}

std::optional<std::string> user_home_dir() {
  if (auto home = env_bytes("HOME")) return home;
  const long reported = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(reported < 0 ? 512 : static_cast<size_t>(reported));
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return std::nullopt;
  if (found->pw_dir == nullptr || *found->pw_dir == '\0') return std::nullopt;
  return std::string(found->pw_dir);
}

Result<std::string, HomeDirUnavailable> db_path() {
  if (auto value = env_text("QUILLSPAN_DAEMON_DB_PATH")) {
    const std::string& v = *value;
    if (v != "~" && v.rfind("~/", 0) != 0) return v;
    auto home = user_home_dir();
    if (!home) return Err(HomeDirUnavailable{});
    if (v == "~") return *home;
    return join_path(*home, std::string_view(v).substr(2));
  }
  auto home = user_home_dir();
  if (!home) return Err(HomeDirUnavailable{});
  return join_path(join_path(join_path(*home, ".quillspan"), "data_daemon"), "state.db");
}

Result<std::string, HomeDirUnavailable> recordings_root() {
  if (auto root = env_text("QUILLSPAN_DAEMON_RECORDINGS_ROOT")) return *root;
  auto db = db_path();
  if (!db) return Err(db.error());
  return join_path(parent_path(db.value()).value_or("."), "recordings");
}

}  // namespace data_daemon_shared
