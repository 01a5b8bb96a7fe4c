#include "fields.h"

namespace data_daemon_shared {

namespace {

using C = DaemonConfig;

constexpr ConfigField size_field(std::string_view key, const char* env,
                                 std::optional<int64_t> C::*member) {
  return {key, env, FieldKind::Size, member};
}
constexpr ConfigField integer_field(std::string_view key, const char* env,
                                    std::optional<int64_t> C::*member) {
  return {key, env, FieldKind::Integer, member};
}
constexpr ConfigField boolean_field(std::string_view key, const char* env,
                                    std::optional<bool> C::*member) {
  return {key, env, FieldKind::Boolean, nullptr, member};
}
constexpr ConfigField text_field(std::string_view key, const char* env,
                                 std::optional<std::string> C::*member) {
  return {key, env, FieldKind::Text, nullptr, nullptr, member};
}

}  // namespace

const std::array<ConfigField, 11> kConfigFields = {
    size_field("storage_limit", "QSM_STORAGE_LIMIT", &C::storage_limit),
    size_field("bandwidth_limit", "QSM_BANDWIDTH_LIMIT", &C::bandwidth_limit),
    size_field("spool_limit", "QSM_SPOOL_LIMIT", &C::spool_limit),
    text_field("path_to_store_record", "QSM_PATH_TO_STORE_RECORD", &C::path_to_store_record),
    integer_field("num_threads", "QSM_NUM_THREADS", &C::num_threads),
    boolean_field("keep_wakelock_while_upload", "QSM_KEEP_WAKELOCK_WHILE_UPLOAD",
                  &C::keep_wakelock_while_upload),
    boolean_field("offline", "QSM_OFFLINE", &C::offline),
    boolean_field("recording_reaper", "QSM_RECORDING_REAPER", &C::recording_reaper),
    text_field("api_key", "QSM_API_KEY", &C::api_key),
    text_field("current_org_id", "QUILLSPAN_ORG_ID", &C::current_org_id),
    text_field("video_codec", "QSM_VIDEO_CODEC", &C::video_codec),
};

}  // namespace data_daemon_shared
