#include "writer/stream_key.h"

#include <charconv>

namespace data_daemon_bridge {

namespace {

constexpr char kNul = '\0';

int64_t parse_instance(std::string_view text) {
  // from_chars accepts "-" but not "+"; a lone sign or anything left over gives 0.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return 0;
  }
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

// The text up to the next NUL (or all of it), consumed from rest together with that NUL.
std::string_view next_piece(std::string_view& rest) {
  size_t at = rest.find(kNul);
  std::string_view piece = rest.substr(0, at);
  rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
  return piece;
}

// The decimal text of an instance, as std::to_string writes it, in a buffer of the caller's.
struct InstanceDigits {
  char text[24];
  size_t size;
};

InstanceDigits instance_digits(int64_t robot_instance) {
  InstanceDigits digits;
  auto [end, ec] = std::to_chars(digits.text, digits.text + sizeof digits.text, robot_instance);
  digits.size = static_cast<size_t>(end - digits.text);
  return digits;
}

}  // namespace

std::string stream_key(std::string_view robot_id, int64_t robot_instance,
                       std::string_view data_type, std::string_view name) {
  std::string key = source_key(robot_id, robot_instance);
  key.append(data_type);
  key.push_back(kNul);
  key.append(name);
  return key;
}

std::string source_key(std::string_view robot_id, int64_t robot_instance) {
  const InstanceDigits digits = instance_digits(robot_instance);
  std::string key(robot_id);
  key.push_back(kNul);
  key.append(digits.text, digits.size);
  key.push_back(kNul);
  return key;
}

StreamKeyView view_stream_key(std::string_view key) {
  StreamKeyView parts;
  parts.robot_id = next_piece(key);
  parts.robot_instance = parse_instance(next_piece(key));
  parts.data_type = next_piece(key);
  parts.name = key;
  return parts;
}

StreamKeyParts parse_stream_key(std::string_view key) {
  const StreamKeyView view = view_stream_key(key);
  return StreamKeyParts{std::string(view.robot_id), view.robot_instance,
                        std::string(view.data_type), std::string(view.name)};
}

bool has_source_prefix(std::string_view key, std::string_view robot_id, int64_t robot_instance) {
  const InstanceDigits digits = instance_digits(robot_instance);
  const std::string_view instance(digits.text, digits.size);
  if (!key.starts_with(robot_id)) return false;
  key.remove_prefix(robot_id.size());
  if (!key.starts_with(kNul)) return false;
  key.remove_prefix(1);
  if (!key.starts_with(instance)) return false;
  key.remove_prefix(instance.size());
  return key.starts_with(kNul);
}

}  // namespace data_daemon_bridge
