#include "nut_writer/nut_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "chunk_reader.h"
#include "hex.h"
#include "nut_writer/nut_coding.h"
#include "nut_writer/nut_crc.h"
#include "nut_writer/nut_format.h"
#include "test_support.h"

namespace data_daemon_bridge {
namespace {

namespace fs = std::filesystem;
using data_daemon_shared::testing::from_hex;
using data_daemon_shared::testing::to_hex;
using testing::read_chunk;
using testing::read_file;
using testing::TempDir;

constexpr NutConfig kVga{640, 480, 1, 1000000};

NutWriter create_or_die(const fs::path& path, const NutConfig& config = kVga) {
  auto created = NutWriter::create(path, config);
  if (!created) throw std::runtime_error(nut_error_text(created.error()));
  return std::move(created).value();
}

std::string v_hex(uint64_t value) {
  std::vector<uint8_t> out;
  put_v(out, value);
  return to_hex(out);
}

TEST(NutCoding, VariableLengthNumbers) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "00"},
      {127, "7F"},
      {128, "81 00"},
      {1000000, "BD 84 40"},
      {uint64_t{1} << 63, "81 80 80 80 80 80 80 80 80 00"},
      {std::numeric_limits<uint64_t>::max(), "81 FF FF FF FF FF FF FF FF 7F"},
  };
  for (const auto& [value, hex] : cases) EXPECT_EQ(v_hex(value), hex) << value;
}

TEST(NutCoding, Checksum) {
  EXPECT_EQ(nut_crc({}), 0u);
  EXPECT_EQ(nut_crc(std::vector<uint8_t>(100, 0)), 0u);
  EXPECT_EQ(NUT_CRC_TABLE[1], 0x04C11DB7u);
  // The checksum of the empty frame header of the worked example.
  EXPECT_EQ(nut_crc(from_hex("FF A0 79 00 81 00 00")), 0xA2CC5C32u);
}

TEST(NutCoding, EmptyFrameAndLargestPts) {
  EXPECT_EQ(to_hex(frame_header(0, 0)), "FF A0 79 00 81 00 00 A2 CC 5C 32");
  std::vector<uint8_t> largest = frame_header(std::numeric_limits<uint64_t>::max() - 128, 0);
  EXPECT_EQ(to_hex(std::vector<uint8_t>(largest.begin() + 4, largest.begin() + 14)),
            v_hex(std::numeric_limits<uint64_t>::max()));
}

// A packet is startcode, forward pointer, the header checksum only past 4,092 payload bytes, the
// payload and the payload's checksum. The forward pointer is 4,096 (v "A0 00") or 4,097 ("A0 01").
TEST(NutCoding, HeaderChecksumOnlyForPayloadsOver4092Bytes) {
  const struct {
    size_t length;
    const char* head_hex;  // startcode and forward pointer
    bool checksummed;
  } cases[] = {
      {4092, "4E 4B E4 AD EE CA 45 69 A0 00", false},
      {4093, "4E 4B E4 AD EE CA 45 69 A0 01", true},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> payload(c.length);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> head = from_hex(c.head_hex);
    std::vector<uint8_t> front = head;
    if (c.checksummed) put_u32_be(front, nut_crc(head));
    std::vector<uint8_t> back;
    put_u32_be(back, nut_crc(payload));

    std::vector<uint8_t> packet = encode_packet(kNutSyncpointStartcode, payload);
    ASSERT_EQ(packet.size(), front.size() + c.length + back.size()) << c.length;
    EXPECT_EQ(to_hex(std::vector<uint8_t>(packet.begin(), packet.begin() + front.size())),
              to_hex(front))
        << c.length;
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), packet.begin() + front.size()))
        << c.length;
    EXPECT_EQ(to_hex(std::vector<uint8_t>(packet.end() - back.size(), packet.end())), to_hex(back))
        << c.length;
  }
}

TEST(NutWriter, HeadersOfA640x480Stream) {
  TempDir dir;
  fs::path path = dir / "chunk.nut";
  NutWriter writer = create_or_die(path);
  EXPECT_EQ(writer.bytes_written(), 117u);
  EXPECT_EQ(writer.last_syncpoint_pos(), 102u);
  EXPECT_EQ(writer.raw_bytes(), 0u);
  auto finished = std::move(writer).finish();
  ASSERT_TRUE(finished) << nut_error_text(finished.error());
  EXPECT_EQ(finished.value(), 117u);

  std::vector<uint8_t> file = read_file(path);
  std::vector<uint8_t> expected(NUT_FILE_ID.begin(), NUT_FILE_ID.end());
  std::vector<uint8_t> packets = from_hex(
      "4E 4D 7A 56 1F 5F 04 AD 23 03 01 84 80 00 01 01 BD 84 40 C0 00 06 00 01 00 00 00 81 7E "
      "A0 00 06 00 01 00 00 00 01 00 00 77 9A 2E 2E "
      "4E 53 11 40 5B F2 F9 DB 18 00 00 04 4D 50 4E 47 00 07 01 00 00 00 85 00 83 60 01 01 00 "
      "7C 73 B5 D2 "
      "4E 4B E4 AD EE CA 45 69 06 00 00 00 00 00 00");
  expected.insert(expected.end(), packets.begin(), packets.end());
  EXPECT_EQ(to_hex(file), to_hex(expected));
  EXPECT_EQ(std::string(file.begin(), file.begin() + 24), "nut/multimedia container");
}

TEST(NutWriter, FramesFollowTheHeaders) {
  TempDir dir;
  fs::path path = dir / "chunk.nut";
  NutWriter writer = create_or_die(path);
  ASSERT_TRUE(writer.write_frame(0, {}));
  std::vector<uint8_t> data = {1, 2, 3};
  ASSERT_TRUE(writer.write_frame(1000000, data));
  EXPECT_EQ(writer.raw_bytes(), 2u * 640 * 480 * 3);
  ASSERT_TRUE(std::move(writer).finish());

  std::vector<uint8_t> file = read_file(path);
  std::vector<uint8_t> tail(file.begin() + 117, file.end());
  std::vector<uint8_t> second = frame_header(1000000, 3);
  EXPECT_EQ(to_hex(tail), "FF A0 79 00 81 00 00 A2 CC 5C 32 " + to_hex(second) + " 01 02 03");
  EXPECT_EQ(to_hex(std::vector<uint8_t>(second.begin(), second.begin() + 8)),
            "FF A0 79 00 BD 85 40 03");  // v(1,000,128), v(3)
}

TEST(NutWriter, InvalidConfigTouchesNoFileSystem) {
  struct Case {
    NutConfig config;
    const char* text;
  } cases[] = {
      {{0, 480, 1, 1000000}, "invalid NUT configuration: width and height must be non-zero"},
      {{640, 0, 1, 1000000}, "invalid NUT configuration: width and height must be non-zero"},
      {{640, 480, 0, 1000000},
       "invalid NUT configuration: time_base_num and time_base_den must be non-zero"},
      {{640, 480, 1, 0},
       "invalid NUT configuration: time_base_num and time_base_den must be non-zero"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    auto created = NutWriter::create(dir / "missing" / "chunk.nut", c.config);
    ASSERT_FALSE(created);
    EXPECT_EQ(created.error().kind, NutError::Kind::InvalidConfig);
    EXPECT_EQ(nut_error_text(created.error()), c.text);
    EXPECT_FALSE(fs::exists(dir / "missing"));
  }
}

TEST(NutWriter, FrameSizeOverflowLeavesTheEmptyFile) {
  TempDir dir;
  constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
  auto overflow = NutWriter::create(dir / "huge.nut", {kMax, kMax, 1, 1000000});
  ASSERT_FALSE(overflow);
  EXPECT_EQ(nut_error_text(overflow.error()),
            "invalid NUT configuration: width * height * 3 overflows usize");
  EXPECT_EQ(fs::file_size(dir / "huge.nut"), 0u);

  // The largest geometry that fits codes its full sizes.
  NutConfig largest{kMax, 1431655765, 1, 1000000};  // 3 × 1,431,655,765 = 2^32 - 1
  NutWriter writer = create_or_die(dir / "largest.nut", largest);
  ASSERT_TRUE(writer.write_frame(0, {}));
  EXPECT_EQ(writer.raw_bytes(), uint64_t{kMax} * 1431655765 * 3);
}

TEST(NutWriter, OpenFailuresNameThePath) {
  TempDir dir;
  testing::write_file(dir / "plain", {});
  auto under_file = NutWriter::create(dir / "plain" / "sub" / "chunk.nut", kVga);
  ASSERT_FALSE(under_file);
  EXPECT_EQ(under_file.error().kind, NutError::Kind::Open);
  EXPECT_EQ(under_file.error().path, dir / "plain" / "sub");
  EXPECT_EQ(nut_error_text(under_file.error()),
            "failed to open NUT file " + (dir / "plain" / "sub").string() + ": Not a directory");

  fs::create_directory(dir / "taken.nut");
  auto on_directory = NutWriter::create(dir / "taken.nut", kVga);
  ASSERT_FALSE(on_directory);
  EXPECT_EQ(nut_error_text(on_directory.error()),
            "failed to open NUT file " + (dir / "taken.nut").string() + ": Is a directory");
}

TEST(NutWriter, CreatesParentsTruncatesAndOpensRelativePaths) {
  TempDir dir;
  mode_t old_mask = umask(0);
  fs::path nested = dir / "a" / "b" / "chunk.nut";
  auto created = NutWriter::create(nested, kVga);
  umask(old_mask);
  ASSERT_TRUE(created);
  struct stat st;
  ASSERT_EQ(stat((dir / "a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);
  ASSERT_EQ(stat((dir / "a" / "b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);
  ASSERT_TRUE(std::move(created.value()).finish());
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);

  // An existing file is truncated; a path without a directory part opens in the current one.
  testing::write_file(dir / "old.nut", std::vector<uint8_t>(5000, 0xAB));
  fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  auto relative = NutWriter::create("old.nut", kVga);
  fs::current_path(cwd);
  ASSERT_TRUE(relative);
  ASSERT_TRUE(std::move(relative.value()).finish());
  EXPECT_EQ(fs::file_size(dir / "old.nut"), 117u);
}

TEST(NutWriter, FileIsClosedOnExec) {
  if (!fs::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc to list a child's open files";
  TempDir dir;
  fs::path path = dir / "chunk.nut";
  NutWriter writer = create_or_die(path);
  testing::CommandResult child = testing::run_command("ls -l /proc/$$/fd");
  ASSERT_EQ(child.exit_status, 0) << child.errors;
  std::string listing(child.output.begin(), child.output.end());
  EXPECT_EQ(listing.find(path.string()), std::string::npos) << listing;
}

// Where syncpoints fall: the first frame right after the headers is 15 bytes past the initial
// syncpoint, so a second syncpoint precedes it exactly when its data is longer than
// 32,768 - 32 - 15 = 32,721 bytes.
TEST(NutWriter, SyncpointDistanceRule) {
  struct Case {
    std::vector<size_t> frame_sizes;
    std::vector<uint64_t> syncpoints;  // offsets in the file
  } cases[] = {
      {{32721}, {102}},
      {{32722}, {102, 117}},
      // Any frame over 32,736 bytes gets a syncpoint, wherever it falls.
      // (Frame headers: 11 bytes for 10 bytes of data, 13 for 32,737; syncpoints 15 bytes.)
      {{10, 32737, 32737}, {102, 117 + 11 + 10, 117 + 11 + 10 + 15 + 13 + 32737}},
      // 1,000-byte frames (12-byte headers): frame k is 15 + k·1,012 bytes past the initial
      // syncpoint, and 15 + k·1,012 + 1,000 + 32 first exceeds 32,768 at k = 32.
      {std::vector<size_t>(33, 1000), {102, 117 + 32 * (1000 + 12)}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    fs::path path = dir / "chunk.nut";
    NutWriter writer = create_or_die(path);
    uint64_t pts = 0;
    for (size_t size : c.frame_sizes) {
      ASSERT_TRUE(writer.write_frame(pts++, std::vector<uint8_t>(size, 7)));
    }
    uint64_t last_syncpoint = writer.last_syncpoint_pos();
    ASSERT_TRUE(std::move(writer).finish());
    auto contents = read_chunk(read_file(path));
    ASSERT_EQ(contents.error, "");
    EXPECT_EQ(contents.syncpoint_offsets(), c.syncpoints) << c.frame_sizes.size();
    EXPECT_EQ(last_syncpoint, c.syncpoints.back());
    EXPECT_EQ(contents.frames().size(), c.frame_sizes.size());
  }
}

TEST(NutWriter, SyncpointCarriesTheFramesPts) {
  TempDir dir;
  fs::path path = dir / "chunk.nut";
  NutWriter writer = create_or_die(path);
  ASSERT_TRUE(writer.write_frame(123456789, std::vector<uint8_t>(40000, 1)));
  ASSERT_TRUE(std::move(writer).finish());
  auto contents = read_chunk(read_file(path));
  ASSERT_EQ(contents.error, "");
  ASSERT_EQ(contents.items.size(), 3u);
  EXPECT_EQ(contents.items[1].kind, testing::ChunkItem::Kind::Syncpoint);
  EXPECT_EQ(contents.items[1].pts, 123456789u);
  EXPECT_EQ(contents.items[2].pts, 123456789u);
}

TEST(NutWriter, PtsLimits) {
  TempDir dir;
  fs::path path = dir / "chunk.nut";
  NutWriter writer = create_or_die(path);
  const uint64_t largest = std::numeric_limits<uint64_t>::max() - 128;
  ASSERT_TRUE(writer.write_frame(largest, {}));
  uint64_t before = writer.bytes_written();
  auto refused = writer.write_frame(largest + 1, {});
  ASSERT_FALSE(refused);
  EXPECT_EQ(nut_error_text(refused.error()),
            "invalid NUT configuration: pts overflow when encoding");
  EXPECT_EQ(writer.bytes_written(), before);
  EXPECT_EQ(writer.raw_bytes(), 640u * 480 * 3);

  // A syncpoint the refused frame asked for stays written.
  auto refused_big = writer.write_frame(largest + 1, std::vector<uint8_t>(40000, 1));
  ASSERT_FALSE(refused_big);
  EXPECT_GT(writer.bytes_written(), before);
  ASSERT_TRUE(writer.write_frame(5, std::vector<uint8_t>{9}));
  ASSERT_TRUE(std::move(writer).finish());

  auto contents = read_chunk(read_file(path));
  ASSERT_EQ(contents.error, "");
  ASSERT_EQ(contents.frames().size(), 2u);
  EXPECT_EQ(contents.frames()[0].pts, largest);
  EXPECT_EQ(contents.frames()[1].pts, 5u);
  EXPECT_EQ(contents.syncpoint_offsets().size(), 2u);
}

TEST(NutWriter, BufferIsWrittenOutWhenFullEvery16MiBAndAtFinish) {
  TempDir dir;
  fs::path path = dir / "chunk.nut";
  NutWriter writer = create_or_die(path);
  EXPECT_EQ(fs::file_size(path), 0u);  // the headers wait in the buffer

  std::vector<uint8_t> frame(3 * 1024 * 1024, 0x5A);
  uint64_t on_disk = 0;
  for (int i = 0; i < 6; ++i) {
    uint64_t before = writer.bytes_written();
    ASSERT_TRUE(writer.write_frame(i, frame));
    uint64_t size = fs::file_size(path);
    if (writer.bytes_written() >= FLUSH_INTERVAL_BYTES && on_disk < FLUSH_INTERVAL_BYTES) {
      EXPECT_EQ(size, writer.bytes_written()) << "periodic write-out at frame " << i;
    } else if (size != on_disk) {
      // Only a frame that did not fit the buffer's free space pushes the older bytes out.
      EXPECT_GT(before + frame.size() + 64, WRITE_BUFFER_BYTES + on_disk) << i;
      EXPECT_LE(size, before + 64) << i;
    }
    on_disk = size;
  }
  // Data at least as large as the buffer goes straight to the file.
  std::vector<uint8_t> huge(WRITE_BUFFER_BYTES, 0x33);
  ASSERT_TRUE(writer.write_frame(6, huge));
  EXPECT_EQ(fs::file_size(path), writer.bytes_written());

  uint64_t expected = writer.bytes_written();
  auto finished = std::move(writer).finish();
  ASSERT_TRUE(finished);
  EXPECT_EQ(finished.value(), expected);
  EXPECT_EQ(fs::file_size(path), expected);
  auto contents = read_chunk(read_file(path));
  ASSERT_EQ(contents.error, "");
  ASSERT_EQ(contents.frames().size(), 7u);
  EXPECT_EQ(contents.frames()[6].data, huge);
}

TEST(NutWriter, DroppingWithoutFinishWritesOutAndKeepsTheFile) {
  TempDir dir;
  fs::path path = dir / "chunk.nut";
  uint64_t written;
  {
    NutWriter writer = create_or_die(path);
    ASSERT_TRUE(writer.write_frame(0, std::vector<uint8_t>{1, 2, 3}));
    written = writer.bytes_written();
    EXPECT_EQ(fs::file_size(path), 0u);
  }
  EXPECT_EQ(fs::file_size(path), written);
  auto contents = read_chunk(read_file(path));
  ASSERT_EQ(contents.error, "");
  EXPECT_EQ(contents.frames().size(), 1u);
}

}  // namespace
}  // namespace data_daemon_bridge
