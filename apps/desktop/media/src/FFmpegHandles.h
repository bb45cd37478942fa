#pragma once

// The media module's names for the owning FFmpeg handles the worker shares.

#include "vexilo/ffmpeg_handles/FFmpegHandles.h"

namespace vexilo::media {

using ffmpeg::BufferPtr;
using ffmpeg::CodecContextPtr;
using ffmpeg::FormatContextPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;

}  // namespace vexilo::media
