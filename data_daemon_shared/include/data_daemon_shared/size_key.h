// The YAML reading of a byte-size key of a profile: a plain integer of bytes, or a text that
// parse_byte_size reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "data_daemon_shared/result.h"
#include "data_daemon_shared/yaml_document.h"

namespace data_daemon_shared {

// A value that is either a signed 64-bit integer or a text; which one a YAML value is decides.
using IntOrString = std::variant<int64_t, std::string>;

// The text of the failure when a value is neither alternative.
inline constexpr std::string_view kIntOrStringMismatch =
    "data did not match any variant of untagged enum IntOrString";

// A plain scalar classified as an integer that fits i64 gives the integer; a plain scalar
// classified as text, and every quoted or block scalar, gives the text. Anything else (null,
// boolean, float, an integer past i64, a sequence, a mapping) fails with kIntOrStringMismatch.
Result<IntOrString, YamlError> read_int_or_string(const YamlNode& value);

// A null value gives none (see is_yaml_null); an integer is taken as is, negative and 0
// included; a text goes through parse_byte_size, whose error text becomes the YAML error's
// message.
Result<std::optional<int64_t>, YamlError> read_size_key(const YamlNode& value);

}  // namespace data_daemon_shared
