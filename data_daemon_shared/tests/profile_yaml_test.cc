// How profile documents map onto DaemonConfig: one small document per case.
#include <gtest/gtest.h>

#include <variant>

#include "config_print.h"
#include "data_daemon_shared/config.h"
#include "data_daemon_shared/size_key.h"
#include "data_daemon_shared/yaml_document.h"

namespace data_daemon_shared {
namespace {

DaemonConfig with_spool(std::optional<int64_t> limit) {
  DaemonConfig c;
  c.spool_limit = limit;
  return c;
}

// A document and either the record it gives or the exact message of its error.
struct ProfileCase {
  const char* yaml;
  std::variant<DaemonConfig, std::string> expected;
};

void check(const std::vector<ProfileCase>& cases) {
  for (const auto& c : cases) {
    const auto result = daemon_config_from_yaml(c.yaml);
    if (const auto* config = std::get_if<DaemonConfig>(&c.expected)) {
      ASSERT_TRUE(result.ok()) << c.yaml << "\n-> " << result.error().display_text();
      EXPECT_EQ(result.value(), *config) << c.yaml;
    } else {
      ASSERT_FALSE(result.ok()) << c.yaml;
      EXPECT_EQ(result.error().message, std::get<std::string>(c.expected)) << c.yaml;
    }
  }
}

const std::string kMismatch(kIntOrStringMismatch);

TEST(ProfileYaml, SizeKeys) {
  check({
      {"spool_limit: 2048", with_spool(2048)},
      {"spool_limit: \"2048\"", with_spool(2048)},  // a text, through the byte-size parser
      {"spool_limit: 2GB", with_spool(2'147'483'648)},
      {"spool_limit: 512MB", with_spool(536'870'912)},
      {"spool_limit: 0x400", with_spool(1024)},
      {"spool_limit: -0o17", with_spool(-15)},
      {"spool_limit: 0b101", with_spool(5)},
      {"spool_limit: -1", with_spool(-1)},
      {"spool_limit: 0", with_spool(0)},
      {"spool_limit: -9223372036854775808", with_spool(INT64_MIN)},
      {"spool_limit: 010", with_spool(10)},  // a leading zero makes it text
      {"spool_limit: |\n  1k\n", with_spool(1024)},
      {"spool_limit: ~", with_spool(std::nullopt)},
      {"spool_limit:", with_spool(std::nullopt)},
      {"spool_limit: NULL", with_spool(std::nullopt)},
      {"spool_limit: !!null null", with_spool(std::nullopt)},
      {"spool_limit: !!null", "invalid value: string \"\", expected null"},
      {"spool_limit: !!null 5", "invalid value: string \"5\", expected null"},
      {"spool_limit: '~'", "Invalid byte value: '~'"},
      {"spool_limit: 10 kb", "Unknown byte unit in value: '10 kb'"},
      {"spool_limit: 1e999", "Unknown byte unit in value: '1e999'"},  // not finite: text
      {"spool_limit: 1.5", kMismatch},
      {"spool_limit: 1e3", kMismatch},
      {"spool_limit: -.inf", kMismatch},
      {"spool_limit: true", kMismatch},
      {"spool_limit: 9223372036854775808", kMismatch},
      {"spool_limit: 0x10000000000000000", kMismatch},
      {"spool_limit: [1]", kMismatch},
      {"spool_limit: {a: 1}", kMismatch},
      {"storage_limit: 1k\nbandwidth_limit: 2k",
       [] {
         DaemonConfig c;
         c.storage_limit = 1024;
         c.bandwidth_limit = 2048;
         return c;
       }()},
  });
}

TEST(ProfileYaml, OtherKeys) {
  DaemonConfig all;
  all.storage_limit = 1;
  all.bandwidth_limit = 2;
  all.spool_limit = 3;
  all.path_to_store_record = "/data/rec";
  all.num_threads = 8;
  all.keep_wakelock_while_upload = true;
  all.offline = false;
  all.recording_reaper = true;
  all.api_key = "k-123";
  all.current_org_id = "org 7";
  all.video_codec = "264";
  auto with = [](auto member, auto value) {
    DaemonConfig c;
    c.*member = value;
    return c;
  };
  check({
      {"storage_limit: 1\nbandwidth_limit: 2\nspool_limit: 3\npath_to_store_record: /data/rec\n"
       "num_threads: 8\nkeep_wakelock_while_upload: TRUE\noffline: False\nrecording_reaper: true\n"
       "api_key: 'k-123'\ncurrent_org_id: \"org 7\"\nvideo_codec: 264\n",
       all},
      {"video_codec: ~", DaemonConfig{}},
      {"video_codec: '~'", with(&DaemonConfig::video_codec, std::string("~"))},
      {"api_key: true", with(&DaemonConfig::api_key, std::string("true"))},
      {"api_key: >\n  folded\n  text\n",
       with(&DaemonConfig::api_key, std::string("folded text\n"))},
      {"api_key: [x]", "invalid type: sequence, expected a string"},
      {"num_threads: +8", with(&DaemonConfig::num_threads, int64_t{8})},
      {"num_threads: 0x10", with(&DaemonConfig::num_threads, int64_t{16})},
      {"num_threads: '8'", "invalid type: string \"8\", expected i64"},
      {"num_threads: 08", "invalid type: string \"08\", expected i64"},
      {"num_threads: 1.5", "invalid type: floating point `1.5`, expected i64"},
      {"num_threads: 9223372036854775808",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {"offline: FALSE", with(&DaemonConfig::offline, false)},
      {"offline: yes", "invalid type: string \"yes\", expected a boolean"},
      {"offline: 'true'", "invalid type: string \"true\", expected a boolean"},
      {"offline: 1", "invalid type: integer `1`, expected a boolean"},
      {"offline: {}", "invalid type: map, expected a boolean"},
  });
}

TEST(ProfileYaml, DocumentShape) {
  check({
      {"", DaemonConfig{}},
      {"# nothing here\n\n# at all\n", DaemonConfig{}},
      {"---\n", DaemonConfig{}},
      {"---\n...\n", DaemonConfig{}},
      {"~", "invalid type: null, expected struct DaemonConfig"},
      {"''", "invalid type: string \"\", expected struct DaemonConfig"},
      {"5", "invalid type: integer `5`, expected struct DaemonConfig"},
      {"- spool_limit: 1", "invalid type: sequence, expected struct DaemonConfig"},
      // One faulty key fails the whole document, whatever was read before it.
      {"spool_limit: 1GB\noffline: yes", "invalid type: string \"yes\", expected a boolean"},
      {"spool_limit: 1\nspool_limit: 2", "duplicate field `spool_limit`"},
      {"spool_limit: ~\nspool_limit: 2", "duplicate field `spool_limit`"},
      {"'spool_limit': 1\nspool_limit: 2", "duplicate field `spool_limit`"},
      // Unknown keys are ignored with whatever value they hold, and may repeat.
      {"Spool_Limit: x\nextra: [1, {a: b}]\nextra: !!null 5\n1: 2\nspool_limit: 7", with_spool(7)},
      {"[spool_limit]: 1", "invalid type: sequence, expected field identifier"},
      {"? {a: 1}\n: 1", "invalid type: map, expected field identifier"},
      // Aliases stand for the node they name, also inside ignored values.
      {"extra: &s 4k\nspool_limit: *s", with_spool(4096)},
      {"extra: [a, &n 0x10]\nspool_limit: *n", with_spool(16)},
      {"extra: &l [1]\nspool_limit: *l", kMismatch},
      {"spool_limit: 1\n---\nspool_limit: 2", "expected a single YAML document, found more"},
  });
}

TEST(ProfileYaml, BrokenDocumentsFail) {
  for (const char* yaml :
       {"spool_limit: *nowhere", "spool_limit: [1", "a: b: c", "\t- x", "spool_limit: \"\\xZZ\""}) {
    const auto result = daemon_config_from_yaml(yaml);
    ASSERT_FALSE(result.ok()) << yaml;
    EXPECT_GT(result.error().line, 0u) << yaml;
  }
}

// A document whose ignored key extra holds collections of one shape nested `levels` deep (the
// document's mapping adds one level), then spool_limit: 1.
std::string nested(const std::string& shape, size_t levels) {
  std::string yaml = "extra:";
  const auto repeat = [&](const std::string& part) {
    for (size_t level = 0; level < levels; ++level) yaml += part;
  };
  if (shape == "flow sequences") {
    yaml += " ";
    repeat("[");
    yaml += "x";
    repeat("]");
  } else if (shape == "flow mappings") {
    yaml += " ";
    repeat("{a: ");
    yaml += "x";
    repeat("}");
  } else if (shape == "block sequences") {
    yaml += "\n  ";
    repeat("- ");
    yaml += "x";
  } else {  // block mappings
    for (size_t level = 0; level < levels; ++level) {
      yaml += "\n" + std::string(2 * (level + 1), ' ') + "a:";
    }
    yaml += " x";
  }
  return yaml + "\nspool_limit: 1\n";
}

TEST(ProfileYaml, NestingDeeperThanTheBoundIsRefused) {
  const std::string refusal = "nesting deeper than " + std::to_string(kMaxYamlDepth) + " levels";
  for (const char* shape :
       {"flow sequences", "flow mappings", "block sequences", "block mappings"}) {
    for (size_t levels : {kMaxYamlDepth - 1, kMaxYamlDepth, size_t{1000}}) {
      const std::string yaml = nested(shape, levels);
      const auto result = daemon_config_from_yaml(yaml);
      if (levels < kMaxYamlDepth) {
        ASSERT_TRUE(result.ok()) << shape << " " << levels << ": " << result.error().display_text();
        EXPECT_EQ(result.value(), with_spool(1));
      } else {
        ASSERT_FALSE(result.ok()) << shape << " " << levels;
        EXPECT_EQ(result.error().message, refusal);
        EXPECT_TRUE(result.error().too_deep);
        EXPECT_GT(result.error().line, 0u) << shape;
      }
    }
  }
  // Other errors are not refusals.
  EXPECT_FALSE(daemon_config_from_yaml("spool_limit: [1").error().too_deep);
  EXPECT_FALSE(daemon_config_from_yaml("offline: yes").error().too_deep);
}

}  // namespace
}  // namespace data_daemon_shared
