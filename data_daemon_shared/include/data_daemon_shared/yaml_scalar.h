// What a YAML node means to the configuration readers: the classification of plain scalars,
// null values, and the texts of the readers' type errors.
//
// An explicit tag other than the null tag is not interpreted: the scalar is read by its style
// and text as if it carried none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data_daemon_shared/result.h"
#include "data_daemon_shared/yaml_document.h"

namespace data_daemon_shared {

enum class PlainScalarKind { Null, Boolean, Integer, Float, Text };

struct PlainScalar {
  PlainScalarKind kind = PlainScalarKind::Text;
  bool boolean = false;            // Boolean only
  std::optional<int64_t> integer;  // Integer only; none when the number does not fit i64
};

// Classifies the text of a plain scalar, first match wins:
//   null     "", "~", "null", "Null", "NULL"
//   boolean  "true", "True", "TRUE", "false", "False", "FALSE"
//   integer  [+-]? decimal digits without a leading zero on two or more digits, or
//            [+-]? then "0x" hex, "0o" octal or "0b" binary digits
//   float    [+-]? ".inf" / ".Inf" / ".INF", ".nan" / ".NaN" / ".NAN", or a finite decimal
//            number such as 1.5, 1e3, .5 or 5. (again no leading zero on the whole part)
//   text     everything else (010, 0x, yes, 1_000, 1e999 ...)
PlainScalar classify_plain_scalar(std::string_view text);

// Whether node is null: a plain scalar "", "~", "null", "Null" or "NULL" without a tag, or a
// plain scalar with the explicit null tag and one of "~", "null", "Null", "NULL". The null tag on
// any other text, the empty text included, is the error
// "invalid value: string \"<text>\", expected null". Quoted scalars are never null.
Result<bool, YamlError> is_yaml_null(const YamlNode& node);

// How an error names a value found: "null", "boolean `true`", "integer `12`",
// "floating point `1.5`", "string \"abc\"", "sequence" or "map".
std::string describe_yaml_value(const YamlNode& node);

// "invalid type: <found>, expected <expected>", positioned at found.
YamlError yaml_invalid_type(const YamlNode& found, std::string_view expected);

// "invalid value: <found>, expected <expected>", positioned at found.
YamlError yaml_invalid_value(const YamlNode& found, std::string_view expected);

}  // namespace data_daemon_shared
