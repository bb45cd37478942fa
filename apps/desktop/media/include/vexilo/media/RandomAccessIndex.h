#pragma once

#include "vexilo/ffmpeg_handles/RandomAccessSeek.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vexilo::media {

// One coded picture of a stream, in decode order. It is named by the file position of its first
// slice segment's NAL unit header, which is the same in every decode of the file.
struct IndexedPicture {
    std::uint64_t firstSliceOffset = 0;
    // Where its access unit begins: an elementary stream is entered there.
    std::uint64_t accessUnitOffset = 0;
    std::uint8_t nalUnitType = 0;
    // Its place in the output order of a decode from the start of the stream; absent for a
    // picture that decode never puts out (the RASL pictures of a stream's first CRA picture).
    std::optional<std::int64_t> displayIndex;

    friend bool operator==(const IndexedPicture&, const IndexedPicture&) = default;
};

// Where a decode that is to reach a picture starts, and what it gives the decoder first.
struct RandomAccessStart {
    std::size_t decodePosition = 0;
    // The random-access picture (IDR, CRA or BLA) the decode starts at.
    IndexedPicture picture;
    // Parameter sets the stream carried before that access unit, the last of each content, in
    // stream order: what the decoder would hold there had it read the stream from its start.
    std::vector<ffmpeg::FileSpan> parameterSets;
    // The first picture that decode puts out: the random-access picture, or the first of its
    // RADL pictures. Every later one follows in the order of a decode from the start.
    std::optional<std::int64_t> firstOutputDisplayIndex;
};

// The random-access pictures of one stream and how to reach any picture from one of them: the
// nearest at or before it in decode order, or the one before that for a RASL picture, which
// cannot be decoded from the CRA picture it leads. Filled once, then shared read-only.
class RandomAccessIndex {
public:
    // The next picture in decode order.
    void appendPicture(const IndexedPicture& picture);
    // The next VPS, SPS or PPS NAL unit in stream order; `contentKey` tells equal contents.
    void appendParameterSet(const ffmpeg::FileSpan& span, std::uint64_t contentKey);
    void setDisplayIndex(std::size_t decodePosition, std::int64_t displayIndex);

    [[nodiscard]] std::size_t size() const noexcept { return pictures_.size(); }
    [[nodiscard]] const IndexedPicture& at(std::size_t decodePosition) const { return pictures_.at(decodePosition); }
    [[nodiscard]] std::size_t randomAccessPictureCount() const noexcept { return randomAccessPositions_.size(); }

    [[nodiscard]] std::optional<std::int64_t> displayIndexOf(std::uint64_t firstSliceOffset) const;
    [[nodiscard]] std::optional<std::size_t> decodePositionOf(std::int64_t displayIndex) const;
    [[nodiscard]] std::optional<std::size_t> decodePositionAt(std::uint64_t firstSliceOffset) const;

    // Empty when the picture is not listed or no random-access picture leads to it.
    [[nodiscard]] std::optional<RandomAccessStart> startFor(std::int64_t displayIndex) const;

private:
    struct ParameterSet {
        ffmpeg::FileSpan span;
        std::uint64_t contentKey = 0;
    };

    [[nodiscard]] RandomAccessStart startAt(std::size_t randomAccessPosition) const;
    [[nodiscard]] std::vector<ffmpeg::FileSpan> parameterSetsBefore(std::uint64_t accessUnitOffset) const;
    [[nodiscard]] std::optional<std::int64_t> firstOutputFrom(std::size_t randomAccessPosition) const;

    std::vector<IndexedPicture> pictures_;
    std::vector<std::size_t> randomAccessPositions_;
    std::unordered_map<std::uint64_t, std::size_t> positionBySliceOffset_;
    std::unordered_map<std::int64_t, std::size_t> positionByDisplayIndex_;
    std::vector<ParameterSet> parameterSets_;
};

// The NAL unit type names random access needs.
[[nodiscard]] bool isRandomAccessPicture(std::uint8_t nalUnitType) noexcept;
[[nodiscard]] bool isRaslPicture(std::uint8_t nalUnitType) noexcept;

}  // namespace vexilo::media
