#include "nut_writer/nut_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <limits>
#include <system_error>
#include <vector>

#include "nut_writer/nut_coding.h"
#include "nut_writer/nut_format.h"
#include "port/system_error.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;
using data_daemon_shared::Result;
using data_daemon_shared::Unit;

namespace {

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}

uint64_t saturating_sub(uint64_t a, uint64_t b) { return a > b ? a - b : 0; }

}  // namespace

NutWriter::NutWriter(std::filesystem::path path, const NutConfig& config, uint64_t frame_bytes)
    : path_(std::move(path)),
      config_(config),
      out_(WRITE_BUFFER_BYTES),
      frame_bytes_(frame_bytes) {}

Result<NutWriter, NutError> NutWriter::create(std::filesystem::path path, const NutConfig& config) {
  if (config.width == 0 || config.height == 0) {
    return Err(NutError::invalid_config(kNutZeroGeometry));
  }
  if (config.time_base_num == 0 || config.time_base_den == 0) {
    return Err(NutError::invalid_config(kNutZeroTimeBase));
  }

  // create_directories makes each missing directory with mode 0o777 less the umask and accepts
  // existing ones.
  std::filesystem::path parent = path.parent_path();
  if (!parent.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    if (ec) return Err(NutError::open(parent, port::system_error_text(ec.value())));
  }

  // width × height always fits in 64 bits; only the multiplication by 3 can overflow (tested
  // once the file exists, which an overflowing geometry leaves empty).
  const uint64_t pixels = uint64_t{config.width} * config.height;
  const bool overflows = pixels > std::numeric_limits<uint64_t>::max() / 3;

  // Everything that allocates comes before the file is opened: once it is, nothing can fail for
  // want of memory until the headers are in the buffer.
  NutWriter writer(std::move(path), config, overflows ? 0 : pixels * 3);
  std::vector<uint8_t> headers(NUT_FILE_ID.begin(), NUT_FILE_ID.end());
  std::vector<uint8_t> main = encode_packet(kNutMainStartcode, main_header_payload(config));
  std::vector<uint8_t> stream = encode_packet(kNutStreamStartcode, stream_header_payload(config));
  headers.insert(headers.end(), main.begin(), main.end());
  headers.insert(headers.end(), stream.begin(), stream.end());
  const uint64_t syncpoint_pos = headers.size();
  std::vector<uint8_t> syncpoint = encode_packet(kNutSyncpointStartcode, syncpoint_payload(0));
  headers.insert(headers.end(), syncpoint.begin(), syncpoint.end());

  int fd = ::open(writer.path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int open_errno = errno;  // before the path's copy, which may allocate
    return Err(NutError::open(writer.path_, port::system_error_text(open_errno)));
  }
  if (overflows) {
    ::close(fd);
    return Err(NutError::invalid_config(kNutFrameBytesOverflow));
  }
  writer.out_.take(fd);
  writer.last_syncpoint_pos_ = syncpoint_pos;
  auto written = writer.out_.write(headers);
  if (!written) return Err(writer.write_error(written.error()));
  return writer;
}

Result<Unit, NutError> NutWriter::write_frame(uint64_t pts, std::span<const uint8_t> data) {
  if (broken_) return Err(write_error(*broken_));

  uint64_t distance = saturating_sub(out_.position(), last_syncpoint_pos_);
  uint64_t reach =
      saturating_add(saturating_add(distance, data.size()), kSyncpointFrameAllowanceBytes);
  if (reach > SYNCPOINT_SPACING_BYTES) {
    uint64_t before = out_.position();
    auto written =
        write_or_take_back(encode_packet(kNutSyncpointStartcode, syncpoint_payload(pts)), before);
    if (!written) return written;
    last_syncpoint_pos_ = before;
  }

  if (pts > std::numeric_limits<uint64_t>::max() - kNutPtsCodingOffset) {
    return Err(NutError::invalid_config(kNutPtsOverflow));
  }

  uint64_t frame_start = out_.position();
  auto header = write_or_take_back(frame_header(pts, data.size()), frame_start);
  if (!header) return header;
  auto body = write_or_take_back(data, frame_start);
  if (!body) return body;
  raw_bytes_ = saturating_add(raw_bytes_, frame_bytes_);

  // A failed periodic write-out is not this frame's failure: the bytes stay buffered and a
  // lasting fault surfaces at a later write or at finish.
  if (saturating_sub(out_.position(), last_flush_pos_) >= FLUSH_INTERVAL_BYTES) {
    if (out_.write_out()) last_flush_pos_ = out_.position();
  }
  return Unit{};
}

Result<Unit, NutError> NutWriter::write_or_take_back(std::span<const uint8_t> bytes,
                                                     uint64_t mark) {
  auto written = out_.write(bytes);
  if (written) return Unit{};
  // Taken back, or marked broken, before the error's text is made, which may find no memory.
  if (!out_.cut_back_to(mark)) broken_ = written.error();
  return Err(write_error(written.error()));
}

Result<uint64_t, NutError> NutWriter::finish() && {
  uint64_t length = out_.position();
  auto closed = out_.close();
  if (!closed) return Err(write_error(closed.error()));
  if (broken_) return Err(write_error(*broken_));
  return length;
}

NutError NutWriter::write_error(FileError error) const {
  return NutError::write(path_, file_error_text(error));
}

}  // namespace data_daemon_bridge
