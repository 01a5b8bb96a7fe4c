#include "data_daemon_shared/byte_size.h"
#include "data_daemon_shared/config.h"
#include "env_var.h"
#include "fields.h"
#include "unicode_text.h"

namespace data_daemon_shared {

namespace {

// [+-]? followed by at least one ASCII digit and nothing else, within i64.
std::optional<int64_t> parse_env_integer(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    // Accumulated with the sign so that the most negative value is reachable.
    const int digit = negative ? -(c - '0') : c - '0';
    if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, digit, &value))
      return std::nullopt;
  }
  return value;
}

}  // namespace

bool parse_env_bool(std::string_view text) {
  const std::string lower = to_lower(text);
  return lower == "true" || lower == "yes" || lower == "1" || lower == "y";
}

DaemonConfig env_overrides() {
  DaemonConfig config;
  for (const ConfigField& field : kConfigFields) {
    const auto value = env_text(field.env_var);
    if (!value) continue;
    switch (field.kind) {
      case FieldKind::Size:
        if (auto bytes = parse_byte_size(*value)) config.*field.integer = bytes.value();
        break;
      case FieldKind::Integer: config.*field.integer = parse_env_integer(*value); break;
      case FieldKind::Boolean: config.*field.boolean = parse_env_bool(*value); break;
      case FieldKind::Text: config.*field.text = *value; break;
    }
  }
  return config;
}

}  // namespace data_daemon_shared
