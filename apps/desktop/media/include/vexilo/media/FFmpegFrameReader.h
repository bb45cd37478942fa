#pragma once

#include "vexilo/domain/StreamInfo.h"
#include "vexilo/media/FFmpegDecodedPicture.h"
#include "vexilo/media/FFmpegError.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/RandomAccessIndex.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace vexilo::media {

// Where a picture the reader put out came from.
struct DecodedPictureOrigin {
    // The first slice segment of its packet, which names it (RandomAccessIndex); absent when
    // the packet's position is unknown.
    std::optional<std::uint64_t> firstSliceOffset;
    // Its place among the pictures put out since the reader was opened or last started over:
    // from the opening on, its display index.
    std::uint64_t outputOrdinal = 0;
};

struct FFmpegFrameReaderState;

// Decodes one file from its first packet or from any random-access picture on, and goes on from
// wherever it stopped: the decoder behind on-demand frames and read-ahead. Only the pictures the
// caller wants are copied out of the decoder. Belongs to the thread that opened it.
class FFmpegFrameReader {
public:
    // Whether to copy this picture's samples out (the picture's callback then receives it).
    using PictureFilter = std::function<bool(const DecodedPictureOrigin&)>;
    using PictureCallback = std::function<void(const DecodedPictureOrigin&, FFmpegDecodedPicture)>;
    // Asked before every packet and every picture.
    using StopPredicate = std::function<bool()>;
    enum class Outcome : std::uint8_t { Stopped, EndOfStream };

    [[nodiscard]] static FFmpegResult<FFmpegFrameReader> open(const std::filesystem::path& path,
                                                              DecoderThreads threads = DecoderThreads::Automatic);

    FFmpegFrameReader(FFmpegFrameReader&&) noexcept;
    FFmpegFrameReader& operator=(FFmpegFrameReader&&) noexcept;
    FFmpegFrameReader(const FFmpegFrameReader&) = delete;
    FFmpegFrameReader& operator=(const FFmpegFrameReader&) = delete;
    ~FFmpegFrameReader();

    [[nodiscard]] const domain::StreamInfo& streamInfo() const noexcept { return streamInfo_; }
    // True until the first start at a random-access picture: output ordinals are display indexes.
    [[nodiscard]] bool readsFromStreamStart() const noexcept;
    // The first slice segment of the last packet taken from the input: how far the reader has read.
    [[nodiscard]] std::optional<std::uint64_t> latestPacketSliceOffset() const noexcept;

    // Starts over at the access unit of a random-access picture, with the parameter sets the
    // stream carried before it. After a failure the reader puts nothing out until it starts
    // over somewhere else.
    [[nodiscard]] std::optional<FFmpegError> startAt(const RandomAccessStart& start);

    // Decodes on from where the reader stands until `stop` says so or the stream ends; it can be
    // called again to go on.
    [[nodiscard]] FFmpegResult<Outcome> decodeOn(const PictureFilter& wanted, const PictureCallback& onPicture,
                                                 const StopPredicate& stop);

private:
    FFmpegFrameReader(domain::StreamInfo info, std::unique_ptr<FFmpegFrameReaderState> state);

    domain::StreamInfo streamInfo_;
    std::unique_ptr<FFmpegFrameReaderState> state_;
};

}  // namespace vexilo::media
