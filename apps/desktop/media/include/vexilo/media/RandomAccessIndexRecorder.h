#pragma once

#include "vexilo/ffmpeg_handles/RandomAccessSeek.h"
#include "vexilo/media/RandomAccessIndex.h"

#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>

namespace vexilo::media {

// Notes a stream's pictures while a sequential decode reads and puts them out: the source of
// random access for a file that has no analysis to take it from. Used on the decoding thread.
class RandomAccessIndexRecorder {
public:
    explicit RandomAccessIndexRecorder(ffmpeg::NalFraming framing) : framing_(framing) {}

    // Each video packet as it goes to the decoder (FFmpegVideoSource::PacketListener).
    void notePacket(std::int64_t decodeIndex, std::span<const std::uint8_t> data, std::int64_t position);
    // Each picture as it comes out, by the decode index its packet carried.
    void notePictureOutput(std::int64_t decodeIndex, std::int64_t displayIndex);

    [[nodiscard]] const RandomAccessIndex& index() const noexcept { return index_; }
    // A copy to share while the recording goes on.
    [[nodiscard]] std::shared_ptr<const RandomAccessIndex> snapshot() const;

private:
    ffmpeg::NalFraming framing_;
    RandomAccessIndex index_;
    std::unordered_map<std::int64_t, std::size_t> positionByDecodeIndex_;
};

}  // namespace vexilo::media
