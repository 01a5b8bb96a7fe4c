// Readable DaemonConfig values in test failure messages.
#pragma once

#include <ostream>

#include "data_daemon_shared/config.h"

namespace data_daemon_shared {

inline void PrintTo(const DaemonConfig& c, std::ostream* os) {
  const auto field = [os](const char* name, const auto& value) {
    if (value) *os << name << "=" << *value << " ";
  };
  *os << "{ ";
  field("storage_limit", c.storage_limit);
  field("bandwidth_limit", c.bandwidth_limit);
  field("spool_limit", c.spool_limit);
  field("path_to_store_record", c.path_to_store_record);
  field("num_threads", c.num_threads);
  field("keep_wakelock_while_upload", c.keep_wakelock_while_upload);
  field("offline", c.offline);
  field("recording_reaper", c.recording_reaper);
  field("api_key", c.api_key);
  field("current_org_id", c.current_org_id);
  field("video_codec", c.video_codec);
  *os << "}";
}

}  // namespace data_daemon_shared
