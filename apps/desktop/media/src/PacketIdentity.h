#pragma once

// Each packet's identity record travels to its frames through the carrier the worker shares.

#include "FFmpegHandles.h"
#include "vexilo/media/DecodedFrameConversion.h"

#include "vexilo/ffmpeg_handles/PacketIdentityCarrier.h"

namespace vexilo::media {

using ffmpeg::enablePacketIdentityPassThrough;
using ffmpeg::PacketIdentityCarrier;

// Replaces the packet's opaque_ref with the record; false when FFmpeg has no memory for it.
[[nodiscard]] bool attachPacketIdentity(AVPacket& packet, const PacketIdentityRecord& record);

}  // namespace vexilo::media
