// The text keys of the stream registry.
//
// A stream key is robot_id NUL robot_instance NUL data_type NUL name (no trailing NUL); a source
// key is robot_id NUL robot_instance NUL, the prefix of every stream key of that source (the
// trailing NUL keeps instance 1 from matching instance 12). Nothing is escaped: a key parses back
// into its parts only while robot_id and data_type hold no NUL.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace data_daemon_bridge {

std::string stream_key(std::string_view robot_id, int64_t robot_instance,
                       std::string_view data_type, std::string_view name);

std::string source_key(std::string_view robot_id, int64_t robot_instance);

struct StreamKeyParts {
  std::string robot_id;
  int64_t robot_instance = 0;
  std::string data_type;
  std::string name;

  bool operator==(const StreamKeyParts&) const = default;
};

// The parts of a stream key as views into it; valid while the key is.
struct StreamKeyView {
  std::string_view robot_id;
  int64_t robot_instance = 0;
  std::string_view data_type;
  std::string_view name;
};

// The inverse of stream_key. Never fails: the first three NULs split, the name keeps any later
// NUL, a missing piece is empty, and an instance that is not an optionally signed decimal within
// 64 bits is 0. view_stream_key allocates nothing; parse_stream_key copies the parts.
StreamKeyView view_stream_key(std::string_view key);
StreamKeyParts parse_stream_key(std::string_view key);

// Whether key begins with source_key(robot_id, robot_instance), without making that key: for
// code that must not fail for want of memory.
bool has_source_prefix(std::string_view key, std::string_view robot_id, int64_t robot_instance);

}  // namespace data_daemon_bridge
