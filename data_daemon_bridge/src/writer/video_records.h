// Where the video pipeline's envelopes (VideoChunkReady, SourceFlushed, VideoHeartbeat) go: the
// data publisher channel, behind everything already queued there, so they reach the daemon after
// every sample queued before them.
#pragma once

#include "data_daemon_shared/envelope.h"

namespace data_daemon_bridge {

// Queues the envelope without waiting; when the channel has no receiver (the publisher thread
// could not be started) the envelope is dropped without a log. Any thread; takes no lock of the
// video pipeline.
void send_video_record(data_daemon_shared::Envelope envelope);

// Tests: sends every record to `sink` instead (nullptr restores the data publisher). Set it
// while no writer thread runs.
using VideoRecordSink = void (*)(data_daemon_shared::Envelope);
void set_video_record_sink_for_testing(VideoRecordSink sink);

}  // namespace data_daemon_bridge
