#pragma once

#include "vexilo/domain/StreamInfo.h"
#include "vexilo/ffmpeg_handles/RandomAccessSeek.h"
#include "vexilo/media/FFmpegDecodedPicture.h"
#include "vexilo/media/FFmpegError.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace vexilo::media {

// How many threads the HEVC decoder runs: one, or as many as FFmpeg chooses for the machine
// (frame and slice threads). Either way the same pictures come out in the same order.
enum class DecoderThreads : std::uint8_t { Single, Automatic };

struct FFmpegDecodeSummary {
    bool canceled = false;
    std::uint64_t packetsRead = 0;      // of every stream
    std::uint64_t packetsSent = 0;      // video packets the decoder accepted
    std::uint64_t packetsRejected = 0;  // damaged video packets the decoder refused; decoding went on
    std::uint64_t picturesDecoded = 0;  // pictures handed to the callback
    std::uint64_t picturesDrained = 0;  // of those, received after the end-of-stream flush was accepted
};

// Checks that a path names a local file of a supported HEVC input kind; empty on success.
[[nodiscard]] std::optional<FFmpegError> validateInputPath(const std::filesystem::path& path);

struct FFmpegSourceState;

// The in-process HEVC decoder: opened once, decoded once from the first packet to the
// end-of-stream flush. Belongs to the thread that opened it.
class FFmpegVideoSource {
public:
    using PictureCallback = std::function<void(FFmpegDecodedPicture)>;
    using CancelPredicate = std::function<bool()>;
    // Each video packet as it goes to the decoder: its decode index (as its pictures carry it),
    // its bytes and its position in the file (-1 when unknown).
    using PacketListener = std::function<void(std::int64_t decodeIndex, std::span<const std::uint8_t> data,
                                              std::int64_t position)>;

    [[nodiscard]] static FFmpegResult<FFmpegVideoSource> open(const std::filesystem::path& path,
                                                              DecoderThreads threads = DecoderThreads::Single);

    FFmpegVideoSource(FFmpegVideoSource&&) noexcept;
    FFmpegVideoSource& operator=(FFmpegVideoSource&&) noexcept;
    FFmpegVideoSource(const FFmpegVideoSource&) = delete;
    FFmpegVideoSource& operator=(const FFmpegVideoSource&) = delete;
    ~FFmpegVideoSource();

    [[nodiscard]] const domain::StreamInfo& streamInfo() const noexcept { return streamInfo_; }
    // How the stream's packets frame their NAL units.
    [[nodiscard]] ffmpeg::NalFraming nalFraming() const noexcept;

    // Decodes the whole stream on the calling thread, handing each output picture to
    // `onPicture` in output order. `shouldCancel` and `onPacket` may be empty. Allowed once per
    // source; a canceled run is a success with `canceled` set.
    [[nodiscard]] FFmpegResult<FFmpegDecodeSummary> decodeSequentially(PictureCallback onPicture,
                                                                       CancelPredicate shouldCancel,
                                                                       PacketListener onPacket = {});

private:
    FFmpegVideoSource(domain::StreamInfo info, std::unique_ptr<FFmpegSourceState> state);

    domain::StreamInfo streamInfo_;
    std::unique_ptr<FFmpegSourceState> state_;
};

}  // namespace vexilo::media
