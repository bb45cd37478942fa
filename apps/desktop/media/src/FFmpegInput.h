#pragma once

// Opening a local HEVC input with its decoder, shared by the sequential source and the frame
// reader that decodes from random-access pictures.

#include "FFmpegHandles.h"
#include "vexilo/domain/StreamInfo.h"
#include "vexilo/ffmpeg_handles/RandomAccessSeek.h"
#include "vexilo/media/FFmpegError.h"
#include "vexilo/media/FFmpegVideoSource.h"

#include <cstdint>
#include <filesystem>
#include <memory>

namespace vexilo::media {

struct FFmpegSourceState {
    // Declared input first so that the decoder is freed before the input is closed.
    FormatContextPtr formatContext;
    CodecContextPtr codecContext;
    std::int32_t streamIndex = -1;
    ffmpeg::NalFraming framing;
    bool decodeStarted = false;
};

// The checked path, the probed input and the opened HEVC decoder of its best video stream.
[[nodiscard]] FFmpegResult<std::unique_ptr<FFmpegSourceState>> openFFmpegInput(const std::filesystem::path& path,
                                                                              DecoderThreads threads);

[[nodiscard]] domain::StreamInfo describeStream(const std::filesystem::path& path, const FFmpegSourceState& state);

}  // namespace vexilo::media
