// Constants of the chunk file layout, shared by the muxer and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace data_daemon_bridge {

// "nut/multimedia container" and its terminating 00 byte: the first 25 bytes of every chunk file.
inline constexpr std::string_view NUT_FILE_ID{"nut/multimedia container\0", 25};

inline constexpr uint64_t kNutMainStartcode = 0x4E4D7A561F5F04ADull;
inline constexpr uint64_t kNutStreamStartcode = 0x4E5311405BF2F9DBull;
inline constexpr uint64_t kNutSyncpointStartcode = 0x4E4BE4ADEECA4569ull;

// A packet whose payload is longer than this (forward pointer above 4,096) carries a header
// checksum after its forward pointer.
inline constexpr uint64_t kNutHeaderChecksumPayloadBytes = 4092;

// The frame code every frame is written with, and its coded flags: keyframe, coded pts, stream
// id, size msb and checksum (0x79) plus 0x1000, "flags follow in the frame header".
inline constexpr uint8_t kNutFrameCode = 0xFF;
inline constexpr uint64_t kNutFrameCodedFlags = 0x1079;

// With msb pts shift 7, a coded pts of 128 or more carries the full time stamp plus 128.
inline constexpr uint64_t kNutPtsCodingOffset = 128;

// A syncpoint is written before a frame when the distance from the last syncpoint, plus the
// frame's data length, plus this allowance for the frame header, would exceed the spacing.
inline constexpr uint64_t SYNCPOINT_SPACING_BYTES = 32768;
inline constexpr uint64_t kSyncpointFrameAllowanceBytes = 32;

inline constexpr size_t WRITE_BUFFER_BYTES = 8388608;
inline constexpr uint64_t FLUSH_INTERVAL_BYTES = 16777216;

}  // namespace data_daemon_bridge
