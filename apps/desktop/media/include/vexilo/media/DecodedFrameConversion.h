#pragma once

#include "vexilo/media/FFmpegDecodedPicture.h"
#include "vexilo/media/FFmpegError.h"

#include <cstdint>
#include <filesystem>
#include <optional>

struct AVFrame;

namespace vexilo::media {

// Size of the identity record attached to each video packet and read back from its frames.
inline constexpr std::size_t kPacketIdentityRecordSize = 40;
// "VEXILOID" as a 64-bit value, most significant byte first.
inline constexpr std::uint64_t kPacketIdentityTag = 0x564558494C4F4944ULL;

// The identity record, in native byte order, as it travels through the decoder.
struct PacketIdentityRecord {
    std::uint64_t tag = kPacketIdentityTag;
    std::int64_t packetIndex = 0;
    std::int64_t decodeIndex = 0;
    std::int64_t pts = 0;
    std::int64_t dts = 0;
};
static_assert(sizeof(PacketIdentityRecord) == kPacketIdentityRecordSize);

// The record the frame's packet carried in; absent when it carries none (or another tag, or a
// shorter buffer).
[[nodiscard]] std::optional<PacketIdentityRecord> packetIdentityOf(const AVFrame& frame);

// Turns one decoded frame into a picture record and a tightly packed planar frame.
// `index` is the picture's position in output order. The frame is neither kept nor released.
[[nodiscard]] FFmpegResult<FFmpegDecodedPicture> convertDecodedFrame(const AVFrame& frame,
                                                                     const std::filesystem::path& sourcePath,
                                                                     std::uint64_t index);

// Copies one plane row by row into a plane with stride = width x bytes per sample;
// empty when the frame's plane cannot be copied safely.
[[nodiscard]] std::optional<domain::VideoPlane> copyDecodedPlane(const AVFrame& frame, int planeIndex,
                                                                 std::uint8_t recordedIndex, std::int32_t width,
                                                                 std::int32_t height, std::int32_t bytesPerSample);

}  // namespace vexilo::media
