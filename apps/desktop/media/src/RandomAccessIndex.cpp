#include "vexilo/media/RandomAccessIndex.h"

#include <algorithm>
#include <iterator>

namespace vexilo::media {
namespace {

// H.265 Table 7-1: BLA_W_LP to CRA_NUT; 22 and 23 are reserved and no decoder starts there.
constexpr std::uint8_t kFirstRandomAccessType = 16;
constexpr std::uint8_t kLastRandomAccessType = 21;
constexpr std::uint8_t kRaslN = 8;
constexpr std::uint8_t kRaslR = 9;
constexpr std::uint8_t kIdrWithRadl = 19;
constexpr std::uint8_t kIdrWithoutLeading = 20;

bool isIdrPicture(std::uint8_t nalUnitType) {
    return nalUnitType == kIdrWithRadl || nalUnitType == kIdrWithoutLeading;
}

}  // namespace

bool isRandomAccessPicture(std::uint8_t nalUnitType) noexcept {
    return nalUnitType >= kFirstRandomAccessType && nalUnitType <= kLastRandomAccessType;
}

bool isRaslPicture(std::uint8_t nalUnitType) noexcept {
    return nalUnitType == kRaslN || nalUnitType == kRaslR;
}

void RandomAccessIndex::appendPicture(const IndexedPicture& picture) {
    const std::size_t position = pictures_.size();
    pictures_.push_back(picture);
    positionBySliceOffset_.emplace(picture.firstSliceOffset, position);
    if (picture.displayIndex) {
        positionByDisplayIndex_.emplace(*picture.displayIndex, position);
    }
    if (isRandomAccessPicture(picture.nalUnitType)) {
        randomAccessPositions_.push_back(position);
    }
}

void RandomAccessIndex::appendParameterSet(const ffmpeg::FileSpan& span, std::uint64_t contentKey) {
    parameterSets_.push_back({span, contentKey});
}

void RandomAccessIndex::setDisplayIndex(std::size_t decodePosition, std::int64_t displayIndex) {
    IndexedPicture& picture = pictures_.at(decodePosition);
    if (picture.displayIndex) {
        positionByDisplayIndex_.erase(*picture.displayIndex);
    }
    picture.displayIndex = displayIndex;
    positionByDisplayIndex_.insert_or_assign(displayIndex, decodePosition);
}

std::optional<std::int64_t> RandomAccessIndex::displayIndexOf(std::uint64_t firstSliceOffset) const {
    const std::optional<std::size_t> position = decodePositionAt(firstSliceOffset);
    return position ? pictures_[*position].displayIndex : std::nullopt;
}

std::optional<std::size_t> RandomAccessIndex::decodePositionOf(std::int64_t displayIndex) const {
    const auto found = positionByDisplayIndex_.find(displayIndex);
    return found == positionByDisplayIndex_.end() ? std::nullopt : std::optional(found->second);
}

std::optional<std::size_t> RandomAccessIndex::decodePositionAt(std::uint64_t firstSliceOffset) const {
    const auto found = positionBySliceOffset_.find(firstSliceOffset);
    return found == positionBySliceOffset_.end() ? std::nullopt : std::optional(found->second);
}

std::optional<RandomAccessStart> RandomAccessIndex::startFor(std::int64_t displayIndex) const {
    const std::optional<std::size_t> target = decodePositionOf(displayIndex);
    if (!target) {
        return std::nullopt;
    }
    auto nearest = std::upper_bound(randomAccessPositions_.begin(), randomAccessPositions_.end(), *target);
    if (nearest == randomAccessPositions_.begin()) {
        return std::nullopt;
    }
    --nearest;
    // A RASL picture refers to pictures before its CRA picture: decoded from there, it is skipped.
    if (isRaslPicture(pictures_[*target].nalUnitType) && !isIdrPicture(pictures_[*nearest].nalUnitType)) {
        if (nearest == randomAccessPositions_.begin()) {
            return std::nullopt;
        }
        --nearest;
    }
    return startAt(*nearest);
}

RandomAccessStart RandomAccessIndex::startAt(std::size_t randomAccessPosition) const {
    RandomAccessStart start;
    start.decodePosition = randomAccessPosition;
    start.picture = pictures_[randomAccessPosition];
    start.parameterSets = parameterSetsBefore(start.picture.accessUnitOffset);
    start.firstOutputDisplayIndex = firstOutputFrom(randomAccessPosition);
    return start;
}

std::vector<ffmpeg::FileSpan> RandomAccessIndex::parameterSetsBefore(std::uint64_t accessUnitOffset) const {
    // The last unit of each content; a later unit with the same id and another content is
    // later in the stream, so given in stream order it replaces the earlier one as it did there.
    std::unordered_map<std::uint64_t, std::size_t> lastOfContent;
    for (std::size_t i = 0; i < parameterSets_.size() && parameterSets_[i].span.offset < accessUnitOffset; ++i) {
        lastOfContent.insert_or_assign(parameterSets_[i].contentKey, i);
    }
    std::vector<std::size_t> kept;
    kept.reserve(lastOfContent.size());
    std::transform(lastOfContent.begin(), lastOfContent.end(), std::back_inserter(kept),
                   [](const auto& entry) { return entry.second; });
    std::sort(kept.begin(), kept.end());
    std::vector<ffmpeg::FileSpan> spans;
    spans.reserve(kept.size());
    std::transform(kept.begin(), kept.end(), std::back_inserter(spans),
                   [this](std::size_t i) { return parameterSets_[i].span; });
    return spans;
}

std::optional<std::int64_t> RandomAccessIndex::firstOutputFrom(std::size_t randomAccessPosition) const {
    // Every picture put out ahead of the random-access picture's group follows it in decode
    // order before the next random-access picture; its RASL pictures are skipped by a decode
    // that starts there. Its own picture may be one a container's edit list never shows.
    std::optional<std::int64_t> first;
    for (std::size_t i = randomAccessPosition; i < pictures_.size(); ++i) {
        const IndexedPicture& picture = pictures_[i];
        if (i != randomAccessPosition && isRandomAccessPicture(picture.nalUnitType)) {
            break;
        }
        if (picture.displayIndex && !isRaslPicture(picture.nalUnitType) && (!first || *picture.displayIndex < *first)) {
            first = picture.displayIndex;
        }
    }
    return first;
}

}  // namespace vexilo::media
