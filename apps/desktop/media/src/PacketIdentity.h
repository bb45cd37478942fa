#pragma once

// Each packet's identity record travels to its frames through the carrier the worker shares.

#include "FFmpegHandles.h"

#include "vexilo/ffmpeg_handles/PacketIdentityCarrier.h"

namespace vexilo::media {

using ffmpeg::enablePacketIdentityPassThrough;
using ffmpeg::PacketIdentityCarrier;

}  // namespace vexilo::media
