#pragma once

// What the sequential source and the frame reader share of a decode run: the sentences of its
// failures, and its boundary, where every failure and exception becomes an FFmpegError.

#include "vexilo/media/FFmpegError.h"

extern "C" {
#include <libavutil/error.h>
}

#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>

namespace vexilo::media {

inline constexpr std::string_view kCannotAllocatePacket = "Cannot allocate FFmpeg packet or frame resources";
inline constexpr std::string_view kCannotReadPacket = "Cannot read the next HEVC input packet";
inline constexpr std::string_view kCannotAttachIdentity = "Cannot attach packet identity metadata";
inline constexpr std::string_view kCannotSendPacket = "Cannot send an HEVC packet to the decoder";
inline constexpr std::string_view kCannotFlush = "Cannot flush the HEVC decoder";
inline constexpr std::string_view kPacketAfterFlush = "Decoder requested another packet after EOF flush";
inline constexpr std::string_view kCannotReceiveFrame = "Cannot receive a decoded HEVC frame";

// Thrown inside a run to end it with a ready error; caught at the run's boundary.
struct DecodeFailure {
    FFmpegError error;
};

// Runs `decode`, turning a DecodeFailure and any exception (from the caller's callbacks, or
// memory running out) into the run's error record.
template <typename Result, typename Decode>
FFmpegResult<Result> guardDecodeRun(const std::filesystem::path& path, Decode&& decode) {
    constexpr std::string_view kOutOfMemory = "Not enough memory while decoding HEVC frames";
    constexpr std::string_view kCallbackFailedPrefix = "Decode callback failed: ";
    constexpr std::string_view kCallbackFailedUnknown = "Decode callback failed with an unknown exception";
    try {
        return decode();
    } catch (DecodeFailure& failure) {
        return std::move(failure.error);
    } catch (const std::bad_alloc&) {
        return formatFfmpegError(path, AVERROR(ENOMEM), kOutOfMemory);
    } catch (const std::exception& exception) {
        return formatFfmpegError(path, AVERROR_EXTERNAL, std::string(kCallbackFailedPrefix) + exception.what());
    } catch (...) {
        return formatFfmpegError(path, AVERROR_EXTERNAL, kCallbackFailedUnknown);
    }
}

}  // namespace vexilo::media
