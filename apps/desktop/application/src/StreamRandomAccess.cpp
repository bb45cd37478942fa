#include "vexilo/application/StreamRandomAccess.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <unordered_map>

namespace vexilo::application {
namespace {

using analysis::NalUnitInfo;
using analysis::StableId;

constexpr std::uint8_t kLastVclType = 31;
// H.265 7.4.2.4.4: the NAL unit types that may open an access unit ahead of its first slice.
constexpr std::uint8_t kVps = 32;
constexpr std::uint8_t kAccessUnitDelimiter = 35;
constexpr std::uint8_t kPrefixSei = 39;
constexpr std::uint8_t kFirstReservedPrefix = 41;
constexpr std::uint8_t kLastReservedPrefix = 44;
constexpr std::uint8_t kFirstUnspecifiedPrefix = 48;
constexpr std::uint8_t kLastUnspecifiedPrefix = 55;

bool opensAccessUnit(std::uint8_t type)
{
    return (type >= kVps && type <= kAccessUnitDelimiter) || type == kPrefixSei ||
           (type >= kFirstReservedPrefix && type <= kLastReservedPrefix) ||
           (type >= kFirstUnspecifiedPrefix && type <= kLastUnspecifiedPrefix);
}

bool isBaseLayer(const NalUnitInfo& nal)
{
    return nal.layerId.value_or(0) == 0;
}

bool isParameterSet(const NalUnitInfo& nal)
{
    using analysis::NalUnitKind;
    return nal.kind == NalUnitKind::Vps || nal.kind == NalUnitKind::Sps || nal.kind == NalUnitKind::Pps;
}

// The units the decoder is fed, where they lie in the file, in stream order.
std::vector<const NalUnitInfo*> locatedUnits(const analysis::StreamAnalysis& stream)
{
    std::vector<const NalUnitInfo*> units;
    units.reserve(stream.nalUnits.size());
    for (const NalUnitInfo& nal : stream.nalUnits) {
        if (nal.byteSpanReliable && nal.nalUnitType && isBaseLayer(nal)) {
            units.push_back(&nal);
        }
    }
    std::stable_sort(units.begin(), units.end(),
                     [](const NalUnitInfo* a, const NalUnitInfo* b) { return a->byteOffset < b->byteOffset; });
    return units;
}

// The slice segments that begin a picture, by their NAL unit.
std::unordered_map<StableId, bool, analysis::StableIdHash> firstSegmentFlags(const analysis::StreamAnalysis& stream)
{
    std::unordered_map<StableId, bool, analysis::StableIdHash> flags;
    flags.reserve(stream.slices.size());
    for (const analysis::SliceInfo& slice : stream.slices) {
        if (slice.firstSliceSegmentInPic) {
            flags.emplace(slice.parentNalUnitId, *slice.firstSliceSegmentInPic);
        }
    }
    return flags;
}

std::unordered_map<std::uint64_t, std::int64_t> displayIndexesByDecodeIdentity(const analysis::StreamAnalysis& stream)
{
    std::unordered_map<std::uint64_t, std::int64_t> shown;
    shown.reserve(stream.pictures.size());
    for (const analysis::PictureAnalysisSummary& picture : stream.pictures) {
        if (picture.pictureId && picture.displayIndex) {
            shown.emplace(*picture.pictureId, *picture.displayIndex);
        }
    }
    return shown;
}

std::uint64_t startOf(const NalUnitInfo& nal)
{
    return nal.byteOffset - std::min<std::uint64_t>(nal.startCodeLength.value_or(0), nal.byteOffset);
}

const analysis::PictureAnalysisSummary* pictureWithIdentity(const analysis::StreamAnalysis& stream,
                                                             std::uint64_t decodePictureId)
{
    const auto found = std::find_if(stream.pictures.begin(), stream.pictures.end(),
                                    [decodePictureId](const analysis::PictureAnalysisSummary& picture) {
                                        return picture.pictureId == decodePictureId;
                                    });
    return found == stream.pictures.end() ? nullptr : &*found;
}

const NalUnitInfo* unitAt(const analysis::StreamAnalysis& stream, std::uint64_t byteOffset)
{
    const auto found = std::find_if(stream.nalUnits.begin(), stream.nalUnits.end(), [byteOffset](const NalUnitInfo& nal) {
        return nal.byteSpanReliable && nal.byteOffset == byteOffset;
    });
    return found == stream.nalUnits.end() ? nullptr : &*found;
}

// Every unit the packets before the offset carried, as the observer counted them.
std::uint64_t unitsBefore(const analysis::StreamAnalysis& stream, std::uint64_t offset)
{
    return static_cast<std::uint64_t>(std::count_if(stream.nalUnits.begin(), stream.nalUnits.end(),
                                                    [offset](const NalUnitInfo& nal) {
                                                        return nal.byteSpanReliable && nal.byteOffset < offset;
                                                    }));
}

std::uint64_t slicesBefore(const analysis::StreamAnalysis& stream, std::uint64_t offset)
{
    std::unordered_map<StableId, std::uint64_t, analysis::StableIdHash> offsets;
    offsets.reserve(stream.nalUnits.size());
    for (const NalUnitInfo& nal : stream.nalUnits) {
        if (nal.byteSpanReliable) {
            offsets.emplace(nal.id, nal.byteOffset);
        }
    }
    return static_cast<std::uint64_t>(
        std::count_if(stream.slices.begin(), stream.slices.end(), [&](const analysis::SliceInfo& slice) {
            const auto nal = offsets.find(slice.parentNalUnitId);
            return nal != offsets.end() && nal->second < offset;
        }));
}

// Whether the whole run decoded the RASL pictures of the random-access picture (it did unless
// that picture began a coded video sequence there too).
bool raslPicturesWereDecoded(const media::RandomAccessIndex& index, std::size_t randomAccessPosition)
{
    for (std::size_t i = randomAccessPosition + 1;
         i < index.size() && !media::isRandomAccessPicture(index.at(i).nalUnitType); ++i) {
        if (media::isRaslPicture(index.at(i).nalUnitType) && index.at(i).displayIndex) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<protocol::StructureStart> structureStartFor(const analysis::StreamAnalysis& stream,
                                                          const media::RandomAccessIndex& index,
                                                          std::uint64_t decodePictureId)
{
    const analysis::PictureAnalysisSummary* target = pictureWithIdentity(stream, decodePictureId);
    const std::optional<media::RandomAccessStart> start =
        target != nullptr && target->displayIndex ? index.startFor(*target->displayIndex) : std::nullopt;
    if (!start || start->decodePosition == 0 || !start->firstOutputDisplayIndex) {
        return std::nullopt;
    }
    const NalUnitInfo* firstSlice = unitAt(stream, start->picture.firstSliceOffset);
    const analysis::PictureAnalysisSummary* randomAccess =
        firstSlice != nullptr && firstSlice->pictureId ? pictureWithIdentity(stream, *firstSlice->pictureId) : nullptr;
    if (randomAccess == nullptr || !randomAccess->poc || *firstSlice->pictureId == 0) {
        return std::nullopt;
    }
    protocol::StructureStart taken;
    taken.accessUnitOffset = start->picture.accessUnitOffset;
    taken.firstSliceOffset = start->picture.firstSliceOffset;
    taken.picturesBefore = *firstSlice->pictureId - 1;
    taken.slicesBefore = slicesBefore(stream, taken.firstSliceOffset);
    taken.nalUnitsBefore = unitsBefore(stream, taken.accessUnitOffset);
    taken.picOrderCnt = *randomAccess->poc;
    taken.firstDisplayIndex = *start->firstOutputDisplayIndex;
    taken.skippedPicturesTakeIdentities = raslPicturesWereDecoded(index, start->decodePosition);
    for (const ffmpeg::FileSpan& span : start->parameterSets) {
        taken.parameterSets.push_back({span.offset, span.size});
    }
    return taken;
}

std::shared_ptr<const media::RandomAccessIndex> makeRandomAccessIndex(const analysis::StreamAnalysis& stream)
{
    auto index = std::make_shared<media::RandomAccessIndex>();
    const auto firstSegments = firstSegmentFlags(stream);
    const auto shown = displayIndexesByDecodeIdentity(stream);
    const std::hash<std::string> contentKey;
    std::optional<std::uint64_t> accessUnitOpening;
    std::optional<std::uint64_t> previousPicture;
    bool previousWasSlice = false;
    for (const NalUnitInfo* nal : locatedUnits(stream)) {
        const std::uint8_t type = *nal->nalUnitType;
        if (isParameterSet(*nal)) {
            index->appendParameterSet({nal->byteOffset, nal->byteSize}, contentKey(nal->contentHash));
        }
        if (type > kLastVclType) {
            if (opensAccessUnit(type) && !accessUnitOpening) {
                accessUnitOpening = startOf(*nal);
            }
            continue;
        }
        const auto flag = firstSegments.find(nal->id);
        const bool beginsPicture = flag != firstSegments.end()
                                       ? flag->second
                                       : !previousWasSlice || !nal->pictureId || nal->pictureId != previousPicture;
        if (beginsPicture) {
            media::IndexedPicture picture;
            picture.firstSliceOffset = nal->byteOffset;
            picture.accessUnitOffset = accessUnitOpening.value_or(startOf(*nal));
            picture.nalUnitType = type;
            if (const auto display = nal->pictureId ? shown.find(*nal->pictureId) : shown.end(); display != shown.end()) {
                picture.displayIndex = display->second;
            }
            index->appendPicture(picture);
        }
        previousPicture = nal->pictureId;
        previousWasSlice = true;
        accessUnitOpening.reset();
    }
    return index;
}

}  // namespace vexilo::application
