#include "writer/video_records.h"

#include <atomic>

#include "publisher/data_publisher.h"

namespace data_daemon_bridge {

namespace {
std::atomic<VideoRecordSink> VIDEO_RECORD_SINK{nullptr};
}  // namespace

void send_video_record(data_daemon_shared::Envelope envelope) {
  if (VideoRecordSink sink = VIDEO_RECORD_SINK.load(std::memory_order_acquire)) {
    sink(std::move(envelope));
    return;
  }
  // A fresh sending end per record; a failed send hands the item back, and it is dropped here.
  (void)get_or_spawn_data_publisher().send(
      PublisherItem{PublisherItem::Envelope{std::move(envelope)}});
}

void set_video_record_sink_for_testing(VideoRecordSink sink) {
  VIDEO_RECORD_SINK.store(sink, std::memory_order_release);
}

}  // namespace data_daemon_bridge
