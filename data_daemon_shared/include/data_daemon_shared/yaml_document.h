// One YAML document as its parser delivers it: nodes with their style and explicit tag, aliases
// already resolved. What the nodes mean is decided by the readers built on top (yaml_scalar.h,
// config.h); this layer only records the document's shape.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data_daemon_shared/result.h"

namespace data_daemon_shared {

// A failure to read a YAML document or to map it onto a record. message is the fixed text
// callers may compare; line and column (1-based, 0 when unknown) only decorate the display text.
struct YamlError {
  std::string message;
  size_t line = 0;
  size_t column = 0;
  // The document nests deeper than kMaxYamlDepth and was refused whatever else it holds.
  bool too_deep = false;

  // message, then " at line L column C" when the position is known.
  std::string display_text() const;
};

enum class YamlNodeKind { Scalar, Sequence, Mapping };

// How a scalar was written: plain (no quotes), quoted, or as a literal or folded block.
enum class YamlScalarStyle { Plain, SingleQuoted, DoubleQuoted, Block };

// The tag the explicit "!!null" resolves to.
inline constexpr std::string_view kYamlNullTag = "tag:yaml.org,2002:null";

struct YamlNode {
  YamlNodeKind kind = YamlNodeKind::Scalar;
  YamlScalarStyle style = YamlScalarStyle::Plain;  // scalars only
  std::string tag;                                 // the resolved explicit tag, or empty
  std::string text;                                // scalars only: the value as it reads
  // Indices into YamlDocument::nodes: a sequence's items, or a mapping's keys and values
  // alternating (key, value, key, value, ...). An alias is stored as the index of the node it
  // refers to, so a node may be the child of several others.
  std::vector<size_t> children;
  size_t line = 0;  // 1-based position of the node's start
  size_t column = 0;

  bool is_plain_scalar() const {
    return kind == YamlNodeKind::Scalar && style == YamlScalarStyle::Plain;
  }
};

// The nodes live in one flat array so that neither building nor destroying a deeply nested
// document recurses.
struct YamlDocument {
  std::vector<YamlNode> nodes;
  std::optional<size_t> root;  // none for a document without content (only comments, say)

  const YamlNode& node(size_t index) const { return nodes[index]; }
};

// The most collections a document may nest one inside another. For every token it reads, the
// YAML parser walks a list with one entry per open flow collection, so its time is the text's
// length times the nesting depth: quadratic in the size of a text of nested brackets (100 KB of
// them took seconds). Bounded, it is linear. A profile needs two levels.
inline constexpr size_t kMaxYamlDepth = 64;

// Parses text as a YAML 1.1 stream that holds at most one document. Syntax errors, an alias to
// an unknown anchor and a second document fail, and so does a collection opened inside
// kMaxYamlDepth others (too_deep): the parse stops there, so that its time stays linear in the
// text's length.
Result<YamlDocument, YamlError> parse_yaml_document(std::string_view text);

}  // namespace data_daemon_shared
