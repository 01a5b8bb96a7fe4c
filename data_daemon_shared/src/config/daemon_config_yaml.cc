#include <array>

#include "data_daemon_shared/config.h"
#include "data_daemon_shared/size_key.h"
#include "data_daemon_shared/yaml_scalar.h"
#include "fields.h"

namespace data_daemon_shared {

namespace {

Result<int64_t, YamlError> read_integer(const YamlNode& value) {
  if (value.is_plain_scalar()) {
    const PlainScalar scalar = classify_plain_scalar(value.text);
    if (scalar.kind == PlainScalarKind::Integer) {
      if (scalar.integer) return *scalar.integer;
      return Err(yaml_invalid_value(value, "i64"));
    }
  }
  return Err(yaml_invalid_type(value, "i64"));
}

Result<bool, YamlError> read_boolean(const YamlNode& value) {
  if (value.is_plain_scalar()) {
    const PlainScalar scalar = classify_plain_scalar(value.text);
    if (scalar.kind == PlainScalarKind::Boolean) return scalar.boolean;
  }
  return Err(yaml_invalid_type(value, "a boolean"));
}

Result<std::string, YamlError> read_text(const YamlNode& value) {
  if (value.kind == YamlNodeKind::Scalar) return value.text;
  return Err(yaml_invalid_type(value, "a string"));
}

// Sets field from a value that is not null.
Result<Unit, YamlError> set_field(DaemonConfig& config, const ConfigField& field,
                                  const YamlNode& value) {
  switch (field.kind) {
    case FieldKind::Size: {
      auto size = read_size_key(value);
      if (!size) return Err(std::move(size.error()));
      config.*field.integer = size.value();
      break;
    }
    case FieldKind::Integer: {
      auto number = read_integer(value);
      if (!number) return Err(std::move(number.error()));
      config.*field.integer = number.value();
      break;
    }
    case FieldKind::Boolean: {
      auto flag = read_boolean(value);
      if (!flag) return Err(std::move(flag.error()));
      config.*field.boolean = flag.value();
      break;
    }
    case FieldKind::Text: {
      auto text = read_text(value);
      if (!text) return Err(std::move(text.error()));
      config.*field.text = std::move(text).value();
      break;
    }
  }
  return Unit{};
}

const ConfigField* find_field(std::string_view key) {
  for (const ConfigField& field : kConfigFields) {
    if (field.key == key) return &field;
  }
  return nullptr;
}

}  // namespace

Result<DaemonConfig, YamlError> daemon_config_from_yaml(std::string_view text) {
  auto parsed = parse_yaml_document(text);
  if (!parsed) return Err(std::move(parsed.error()));
  const YamlDocument& doc = parsed.value();
  DaemonConfig config;
  if (!doc.root) return config;
  const YamlNode& root = doc.node(*doc.root);
  if (root.is_plain_scalar() && root.text.empty() && root.tag.empty()) return config;
  if (root.kind != YamlNodeKind::Mapping) {
    return Err(yaml_invalid_type(root, "struct DaemonConfig"));
  }

  std::array<bool, kConfigFields.size()> seen{};
  for (size_t i = 0; i + 1 < root.children.size(); i += 2) {
    const YamlNode& key = doc.node(root.children[i]);
    const YamlNode& value = doc.node(root.children[i + 1]);
    if (key.kind != YamlNodeKind::Scalar) return Err(yaml_invalid_type(key, "field identifier"));
    const ConfigField* field = find_field(key.text);
    if (field == nullptr) continue;
    bool& field_seen = seen[static_cast<size_t>(field - kConfigFields.data())];
    if (field_seen) {
      return Err(YamlError{"duplicate field `" + key.text + "`", key.line, key.column});
    }
    field_seen = true;
    auto null = is_yaml_null(value);
    if (!null) return Err(std::move(null.error()));
    if (null.value()) continue;
    if (auto set = set_field(config, *field, value); !set) return Err(std::move(set.error()));
  }
  return config;
}

}  // namespace data_daemon_shared
