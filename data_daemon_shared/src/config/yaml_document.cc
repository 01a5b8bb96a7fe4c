#include "data_daemon_shared/yaml_document.h"

#include <yaml.h>

#include <map>

namespace data_daemon_shared {

std::string YamlError::display_text() const {
  if (line == 0) return message;
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

namespace {

// Owns a libyaml parser for one parse.
class Parser {
 public:
  explicit Parser(std::string_view text) {
    yaml_parser_initialize(&parser_);
    yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
  }
  ~Parser() { yaml_parser_delete(&parser_); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // The next event into event (which the caller then owns), or the parser's error.
  Result<Unit, YamlError> next(yaml_event_t& event) {
    if (yaml_parser_parse(&parser_, &event)) return Unit{};
    YamlError error{parser_.problem ? parser_.problem : "invalid YAML"};
    if (parser_.context) error.message += std::string(" ") + parser_.context;
    error.line = parser_.problem_mark.line + 1;
    error.column = parser_.problem_mark.column + 1;
    return Err(std::move(error));
  }

 private:
  yaml_parser_t parser_;
};

// Frees one event when it goes out of scope.
struct EventHolder {
  yaml_event_t event{};
  ~EventHolder() { yaml_event_delete(&event); }
};

std::string c_text(const yaml_char_t* text) {
  return text ? reinterpret_cast<const char*>(text) : std::string();
}

YamlScalarStyle scalar_style(yaml_scalar_style_t style) {
  switch (style) {
    case YAML_SINGLE_QUOTED_SCALAR_STYLE: return YamlScalarStyle::SingleQuoted;
    case YAML_DOUBLE_QUOTED_SCALAR_STYLE: return YamlScalarStyle::DoubleQuoted;
    case YAML_LITERAL_SCALAR_STYLE:
    case YAML_FOLDED_SCALAR_STYLE: return YamlScalarStyle::Block;
    default: return YamlScalarStyle::Plain;
  }
}

// Builds the node array from the event stream with an explicit stack of open collections.
class Builder {
 public:
  // Adds one node and attaches it to the open collection (or makes it the root).
  size_t add(YamlNode node, const yaml_char_t* anchor) {
    const size_t index = doc_.nodes.size();
    doc_.nodes.push_back(std::move(node));
    if (anchor) anchors_[c_text(anchor)] = index;
    attach(index);
    return index;
  }
  void open(size_t index) { open_.push_back(index); }
  void close() { open_.pop_back(); }
  size_t depth() const { return open_.size(); }

  Result<Unit, YamlError> alias(const yaml_event_t& event) {
    auto it = anchors_.find(c_text(event.data.alias.anchor));
    if (it == anchors_.end()) {
      return Err(YamlError{"unknown anchor " + c_text(event.data.alias.anchor),
                           event.start_mark.line + 1, event.start_mark.column + 1});
    }
    attach(it->second);
    return Unit{};
  }

  YamlDocument take() && { return std::move(doc_); }

 private:
  void attach(size_t index) {
    if (open_.empty()) {
      doc_.root = index;
    } else {
      doc_.nodes[open_.back()].children.push_back(index);
    }
  }

  YamlDocument doc_;
  std::vector<size_t> open_;
  std::map<std::string, size_t> anchors_;
};

// Refuses the collection that event opens when it would lie deeper than kMaxYamlDepth.
Result<Unit, YamlError> check_depth(const Builder& builder, const yaml_event_t& event) {
  if (builder.depth() < kMaxYamlDepth) return Unit{};
  YamlError error{"nesting deeper than " + std::to_string(kMaxYamlDepth) + " levels",
                  event.start_mark.line + 1, event.start_mark.column + 1};
  error.too_deep = true;
  return Err(std::move(error));
}

YamlNode node_at(YamlNodeKind kind, const yaml_char_t* tag, const yaml_event_t& event) {
  YamlNode node;
  node.kind = kind;
  node.tag = c_text(tag);
  node.line = event.start_mark.line + 1;
  node.column = event.start_mark.column + 1;
  return node;
}

}  // namespace

Result<YamlDocument, YamlError> parse_yaml_document(std::string_view text) {
  Parser parser(text);
  Builder builder;
  int documents = 0;
  for (;;) {
    EventHolder holder;
    yaml_event_t& event = holder.event;
    if (auto step = parser.next(event); !step) return Err(std::move(step.error()));
    switch (event.type) {
      case YAML_STREAM_END_EVENT: return std::move(builder).take();
      case YAML_DOCUMENT_START_EVENT:
        if (++documents > 1) {
          return Err(YamlError{"expected a single YAML document, found more",
                               event.start_mark.line + 1, event.start_mark.column + 1});
        }
        break;
      case YAML_SCALAR_EVENT: {
        const auto& s = event.data.scalar;
        YamlNode node = node_at(YamlNodeKind::Scalar, s.tag, event);
        node.style = scalar_style(s.style);
        node.text.assign(reinterpret_cast<const char*>(s.value), s.length);
        builder.add(std::move(node), s.anchor);
        break;
      }
      case YAML_SEQUENCE_START_EVENT: {
        if (auto step = check_depth(builder, event); !step) return Err(std::move(step.error()));
        const auto& s = event.data.sequence_start;
        builder.open(builder.add(node_at(YamlNodeKind::Sequence, s.tag, event), s.anchor));
        break;
      }
      case YAML_MAPPING_START_EVENT: {
        if (auto step = check_depth(builder, event); !step) return Err(std::move(step.error()));
        const auto& m = event.data.mapping_start;
        builder.open(builder.add(node_at(YamlNodeKind::Mapping, m.tag, event), m.anchor));
        break;
      }
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT: builder.close(); break;
      case YAML_ALIAS_EVENT:
        if (auto step = builder.alias(event); !step) return Err(std::move(step.error()));
        break;
      default: break;  // stream start, document end, no event
    }
  }
}

}  // namespace data_daemon_shared
