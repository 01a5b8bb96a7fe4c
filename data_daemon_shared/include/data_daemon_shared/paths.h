// Where recordings live: the user's home directory, the daemon's database path and the
// recordings root. Paths are byte strings with "/" as separator. Every call reads the
// environment afresh; none creates a directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "data_daemon_shared/result.h"

namespace data_daemon_shared {

// The recordings root and the database path need the home directory and there is none.
struct HomeDirUnavailable {
  static constexpr std::string_view kDebugText = "HomeDirUnavailable";

  // "could not determine the user's home directory; set QUILLSPAN_DAEMON_RECORDINGS_ROOT (or
  // QUILLSPAN_DAEMON_DB_PATH) to an absolute path"
  std::string display_text() const;

  friend bool operator==(const HomeDirUnavailable&, const HomeDirUnavailable&) = default;
};

// base with component appended after a "/" (added only when base is non-empty and does not end
// in "/"). An absolute component replaces base; an empty one leaves a trailing "/".
std::string join_path(std::string_view base, std::string_view component);

// path without its last component. Repeated "/" count as one; trailing "/" and "." components
// (but a leading one) are no components. "state.db" has the empty parent, "/a" has "/", while
// "/" and the empty path have none.
std::optional<std::string> parent_path(std::string_view path);

// HOME when set and non-empty (as is, any bytes); else the home field of the real user's
// password-database entry when one lookup finds a non-empty one; else none.
std::optional<std::string> user_home_dir();

// QUILLSPAN_DAEMON_DB_PATH when set, UTF-8 and non-empty, with a leading "~" or "~/" expanded to
// the home directory; else <home>/.quillspan/data_daemon/state.db.
Result<std::string, HomeDirUnavailable> db_path();

// QUILLSPAN_DAEMON_RECORDINGS_ROOT when set, UTF-8 and non-empty, as is (the home directory is
// then not consulted); else the database path's parent joined with "recordings" (./recordings
// when the database path is "/"). Without either variable:
// <home>/.quillspan/data_daemon/recordings.
Result<std::string, HomeDirUnavailable> recordings_root();

}  // namespace data_daemon_shared
