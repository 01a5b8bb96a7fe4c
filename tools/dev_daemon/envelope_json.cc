#include "dev_daemon/envelope_json.h"

#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "data_daemon_shared/envelope.h"
#include "dev_daemon/json.h"

namespace dev_daemon {

using data_daemon_shared::BatchedSample;
using data_daemon_shared::FrameDtype;

namespace {

// A field's value by its C++ type, the same types that decide its wire form.
void append(std::string& out, const std::string& text) { out += json_string(text); }
void append(std::string& out, int64_t value) { out += std::to_string(value); }
void append(std::string& out, uint32_t value) { out += std::to_string(value); }
void append(std::string& out, uint64_t value) { out += std::to_string(value); }
void append(std::string& out, double value) { out += json_number(value); }
void append(std::string& out, FrameDtype dtype) {
  out += json_string(data_daemon_shared::frame_dtype_name(dtype));
}
void append(std::string& out, const std::vector<uint8_t>& bytes) { out += json_hex(bytes); }
void append(std::string& out, const BatchedSample& sample);

template <class T>
void append(std::string& out, const std::optional<T>& value) {
  if (value) {
    append(out, *value);
  } else {
    out += "null";
  }
}

template <class T>
void append(std::string& out, const std::vector<T>& elements) {
  out += "[";
  for (size_t i = 0; i < elements.size(); ++i) {
    if (i > 0) out += ",";
    append(out, elements[i]);
  }
  out += "]";
}

// Every field as "name":value, each after a comma but the first when first_comma is false.
template <class Record>
void append_fields(std::string& out, const Record& record, bool first_comma) {
  bool comma = first_comma;
  for_each_field(record, [&](std::string_view name, const auto& field) {
    if (comma) out += ",";
    comma = true;
    out += json_string(name);
    out += ":";
    append(out, field);
  });
}

void append(std::string& out, const BatchedSample& sample) {
  out += "{";
  append_fields(out, sample, false);
  out += "}";
}

}  // namespace

std::string envelope_json(std::span<const uint8_t> bytes) {
  auto decoded = data_daemon_shared::decode_envelope(bytes);
  if (!decoded) {
    return "{\"error\":" + json_string(decoded.error().display_text()) +
           ",\"bytes\":" + json_hex(bytes) + "}";
  }
  std::string out = "{\"variant\":";
  std::visit(
      [&out](const auto& variant) {
        out += json_string(variant.kName);
        append_fields(out, variant, true);
      },
      decoded.value().envelope);
  if (const size_t trailing = decoded.value().trailing; trailing > 0) {
    out += ",\"trailing\":" + json_hex(bytes.last(trailing));
  }
  return out + "}";
}

}  // namespace dev_daemon
