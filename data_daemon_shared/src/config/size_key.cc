#include "data_daemon_shared/size_key.h"

#include "data_daemon_shared/byte_size.h"
#include "data_daemon_shared/yaml_scalar.h"

namespace data_daemon_shared {

Result<IntOrString, YamlError> read_int_or_string(const YamlNode& value) {
  IntOrString read;
  if (value.kind == YamlNodeKind::Scalar) {
    const PlainScalar scalar = value.is_plain_scalar() ? classify_plain_scalar(value.text)
                                                       : PlainScalar{};  // quoted or block: text
    if (scalar.kind == PlainScalarKind::Text) {
      read.emplace<std::string>(value.text);
      return read;
    }
    if (scalar.kind == PlainScalarKind::Integer && scalar.integer) {
      read.emplace<int64_t>(*scalar.integer);
      return read;
    }
  }
  return Err(YamlError{std::string(kIntOrStringMismatch), value.line, value.column});
}

Result<std::optional<int64_t>, YamlError> read_size_key(const YamlNode& value) {
  auto null = is_yaml_null(value);
  if (!null) return Err(std::move(null.error()));
  if (null.value()) return std::optional<int64_t>();
  auto read = read_int_or_string(value);
  if (!read) return Err(std::move(read.error()));
  if (const auto* number = std::get_if<int64_t>(&read.value())) {
    return std::optional<int64_t>(*number);
  }
  auto bytes = parse_byte_size(std::get<std::string>(read.value()));
  if (!bytes) return Err(YamlError{std::move(bytes.error()), value.line, value.column});
  return std::optional<int64_t>(bytes.value());
}

}  // namespace data_daemon_shared
