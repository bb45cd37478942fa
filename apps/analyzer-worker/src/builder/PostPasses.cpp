#include "builder/BuilderCodes.h"
#include "builder/BuilderValues.h"
#include "builder/ConfigurationRecord.h"
#include "builder/DocumentBuilder.h"
#include "collector/ObserverEventCollector.h"
#include "vexilo/analysis/cache/CacheContainer.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace vexilo::analyzer {
namespace {

namespace codes = builder_codes;
using analysis::BlockRect;
using analysis::StableId;
using analysis::StableIdHash;

constexpr std::uint64_t kConfigurationNalKeyTag = 0xa000000000000000ULL;
constexpr std::uint32_t kFirstParameterSetNalType = 32;
constexpr std::uint32_t kLastParameterSetNalType = 34;
constexpr std::uint64_t kExtentLimit = 65536;
constexpr std::uint8_t kMaxTemporalId = 6;

bool isWellFormed(const BlockRect& rect) noexcept
{
    return rect.unit == analysis::kBlockRectUnitLumaSample && rect.x >= 0 && rect.y >= 0 && rect.width != 0 &&
           rect.height != 0;
}

// The same containment test the validator applies.
bool contains(const BlockRect& outer, const BlockRect& inner) noexcept
{
    if (!isWellFormed(outer) || !isWellFormed(inner)) {
        return false;
    }
    return inner.x >= outer.x && inner.y >= outer.y &&
           std::int64_t{inner.x} + inner.width <= std::int64_t{outer.x} + outer.width &&
           std::int64_t{inner.y} + inner.height <= std::int64_t{outer.y} + outer.height;
}

BlockRect pictureRect(std::uint32_t width, std::uint32_t height) noexcept
{
    return BlockRect{0, 0, width, height, analysis::kBlockRectUnitLumaSample};
}

// Keeps the elements the predicate accepts, visiting them in storage order.
template <typename Record, typename Predicate>
bool keepInOrder(std::vector<Record>& records, Predicate keep)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (keep(records[i])) {
            if (kept != i) {
                records[kept] = std::move(records[i]);
            }
            ++kept;
        }
    }
    const bool removed = kept != records.size();
    records.resize(kept);
    return removed;
}

// Keeps the first of the blocks that share an identity. Block identities are checked
// here, by sorting, rather than one by one while building: for millions of blocks a
// sort is far cheaper than a hash probe per block.
template <typename Block>
bool dropRepeatedIdentities(std::vector<Block>& blocks)
{
    std::vector<std::pair<StableId, std::size_t>> ids;
    ids.reserve(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        ids.emplace_back(blocks[i].id, i);
    }
    std::sort(ids.begin(), ids.end());
    std::vector<bool> repeated(blocks.size(), false);
    bool any = false;
    for (std::size_t k = 1; k < ids.size(); ++k) {
        if (ids[k].first == ids[k - 1].first) {
            repeated[ids[k].second] = true;
            any = true;
        }
    }
    if (any) {
        std::size_t index = 0;
        keepInOrder(blocks, [&](const Block&) { return !repeated[index++]; });
    }
    return any;
}

// The picture against which the validator excuses a CTU outside its own picture:
// the largest SPS of known size, else the root size.
std::optional<BlockRect> spsPicture(const analysis::StreamAnalysis& document)
{
    std::optional<BlockRect> chosen;
    std::uint64_t chosenArea = 0;
    for (const analysis::ParameterSetInfo& ps : document.parameterSets) {
        if (ps.kind != analysis::ParameterSetKind::Sps || ps.width.value_or(0) == 0 || ps.height.value_or(0) == 0) {
            continue;
        }
        const std::uint64_t area = std::uint64_t{*ps.width} * *ps.height;
        if (!chosen || area > chosenArea) {
            chosen = pictureRect(*ps.width, *ps.height);
            chosenArea = area;
        }
    }
    if (!chosen && document.width.value_or(0) != 0 && document.height.value_or(0) != 0) {
        chosen = pictureRect(*document.width, *document.height);
    }
    return chosen;
}

struct BlockPlace {
    std::size_t position = 0;
    StableId parent;
    BlockRect bounds;
};

using BlockPlaces = StableIdTable<BlockPlace>;

template <typename Block, typename ParentOf>
BlockPlaces placesOf(const std::vector<Block>& blocks, ParentOf parentOf)
{
    BlockPlaces places;
    places.reserve(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        places.insert(blocks[i].id, BlockPlace{i, parentOf(blocks[i]), blocks[i].bounds});
    }
    return places;
}

// A link to a parent of the same collection stands when the parent exists in the same
// container and, when it comes first, contains the child.
bool isSoundSameKindParent(const BlockPlaces& places, const StableId& parentId, const StableId& container,
                           std::size_t position, const BlockRect& bounds)
{
    const BlockPlace* parent = places.find(parentId);
    if (parent == nullptr || parent->parent != container) {
        return false;
    }
    return parent->position > position || contains(parent->bounds, bounds);
}

void dropDanglingLink(std::optional<StableId>& link, const StableIdSet& targets)
{
    if (link && !targets.contains(*link)) {
        link.reset();
    }
}

}  // namespace

void DocumentBuilder::linkSlicesToPictures()
{
    StableIdTable<std::size_t> nalPositions;
    nalPositions.reserve(document_.nalUnits.size());
    for (std::size_t i = 0; i < document_.nalUnits.size(); ++i) {
        nalPositions.insert(document_.nalUnits[i].id, i);
    }
    for (analysis::SliceInfo& slice : document_.slices) {
        if (!slice.pictureId) {
            continue;
        }
        analysis::PictureAnalysisSummary* picture = pictureOf(*slice.pictureId);
        if (picture == nullptr) {
            continue;
        }
        picture->sliceCount = picture->sliceCount.value_or(0) + 1;
        slice.displayIndex = picture->displayIndex;
        slice.decodeIndex = picture->decodeIndex;
        if (const std::size_t* nal = nalPositions.find(slice.parentNalUnitId)) {
            document_.nalUnits[*nal].pictureId = slice.pictureId;
        }
    }
}

void DocumentBuilder::linkSeiToPictures()
{
    std::unordered_multimap<StableId, std::size_t, StableIdHash> seiByNal;
    for (std::size_t i = 0; i < document_.seiMessages.size(); ++i) {
        seiByNal.emplace(document_.seiMessages[i].parentNalUnitId, i);
    }
    const auto assign = [&](analysis::NalUnitInfo& nal, std::uint64_t pictureId) {
        nal.pictureId = pictureId;
        const auto [first, last] = seiByNal.equal_range(nal.id);
        for (auto it = first; it != last; ++it) {
            document_.seiMessages[it->second].pictureId = pictureId;
        }
    };
    std::vector<std::size_t> pendingPrefixSei;
    std::optional<std::uint64_t> currentPicture;
    for (std::size_t i = 0; i < document_.nalUnits.size(); ++i) {
        analysis::NalUnitInfo& nal = document_.nalUnits[i];
        switch (nal.kind) {
        case analysis::NalUnitKind::PrefixSei:
            pendingPrefixSei.push_back(i);
            break;
        case analysis::NalUnitKind::Slice:
            if (nal.pictureId) {
                for (const std::size_t pending : pendingPrefixSei) {
                    assign(document_.nalUnits[pending], *nal.pictureId);
                }
                pendingPrefixSei.clear();
                currentPicture = nal.pictureId;
            }
            break;
        case analysis::NalUnitKind::SuffixSei:
            if (currentPicture) {
                assign(nal, *currentPicture);
            }
            break;
        default:
            break;
        }
    }
}

void DocumentBuilder::addConfigurationRecordParameterSets()
{
    const std::optional<ConfigurationRecord> record = parseConfigurationRecord(context_.extradata);
    if (!record) {
        return;
    }
    std::unordered_set<std::string> knownHashes;
    for (const analysis::ParameterSetInfo& ps : document_.parameterSets) {
        knownHashes.insert(ps.contentHash);
    }
    std::uint64_t added = 0;
    for (const ConfigurationRecordNalUnit& unit : record->nalUnits) {
        if (unit.arrayNalUnitType < kFirstParameterSetNalType || unit.arrayNalUnitType > kLastParameterSetNalType) {
            continue;
        }
        const std::string hash = fnv1a64Fingerprint(analysis::fnv1a64(unit.bytes));
        if (!knownHashes.insert(hash).second) {
            continue;
        }
        analysis::NalUnitInfo nal;
        nal.id = deriveStableId(document_.id, ObjectKind::NalUnit, kConfigurationNalKeyTag | unit.bytePosition, added);
        nal.parentStreamAnalysisId = document_.id;
        nal.byteSize = unit.bytes.size();
        nal.byteSpanReliable = false;
        std::uint32_t nalType = unit.arrayNalUnitType;
        if (unit.bytes.size() >= 2) {
            nalType = (unit.bytes[0] >> 1) & 0x3Fu;
            nal.layerId = static_cast<std::uint8_t>(((unit.bytes[0] & 0x01u) << 5) | (unit.bytes[1] >> 3));
            nal.temporalId = optionalInRange<std::uint8_t>((unit.bytes[1] & 0x07) - 1, std::uint8_t{0}, kMaxTemporalId);
        }
        nal.nalUnitType = static_cast<std::uint8_t>(nalType);
        nal.kind = nalUnitCategory(nalType);
        nal.contentHash = hash;

        analysis::ParameterSetInfo ps;
        ps.id = deriveStableId(nal.id, ObjectKind::ParameterSet,
                               (std::uint64_t{unit.arrayNalUnitType} << 32) | unit.indexInArray);
        ps.parentNalUnitId = nal.id;
        ps.kind = static_cast<analysis::ParameterSetKind>(unit.arrayNalUnitType - kFirstParameterSetNalType + 1);
        ps.profile = profileOf(record->generalProfileIdc, record->lumaBitDepth);
        ps.profileIdc = record->generalProfileIdc;
        ps.levelIdc = record->generalLevelIdc;
        if (ps.kind != analysis::ParameterSetKind::Pps) {
            ps.maxSubLayers = optionalPositive<std::uint8_t>(record->numTemporalLayers);
            ps.temporalIdNesting = record->temporalIdNested;
        }
        if (ps.kind == analysis::ParameterSetKind::Sps) {
            ps.width = optionalDimension(context_.width);
            ps.height = optionalDimension(context_.height);
            ps.bitDepth = record->lumaBitDepth;
            ps.chromaBitDepth = record->chromaBitDepth;
            ps.chromaFormatIdc = record->chromaFormatIdc;
        }
        ps.contentHash = hash;
        if (!usedIds_.insert(nal.id, {}) || !usedIds_.insert(ps.id, {})) {
            continue;
        }
        ++added;
        document_.nalUnits.push_back(std::move(nal));
        document_.parameterSets.push_back(std::move(ps));
    }
}

void DocumentBuilder::widenToCtuExtent()
{
    std::uint64_t maxRight = document_.width.value_or(0);
    std::uint64_t maxBottom = document_.height.value_or(0);
    for (const analysis::CtuInfo& ctu : document_.ctus) {
        if (ctu.bounds.width == 0 || ctu.bounds.height == 0 || ctu.bounds.x < 0 || ctu.bounds.y < 0) {
            continue;
        }
        const std::uint64_t right = static_cast<std::uint64_t>(ctu.bounds.x) + ctu.bounds.width;
        const std::uint64_t bottom = static_cast<std::uint64_t>(ctu.bounds.y) + ctu.bounds.height;
        if (right < kExtentLimit) {
            maxRight = std::max(maxRight, right);
        }
        if (bottom < kExtentLimit) {
            maxBottom = std::max(maxBottom, bottom);
        }
    }
    if (maxRight != 0) {
        document_.width = static_cast<std::uint32_t>(maxRight);
    }
    if (maxBottom != 0) {
        document_.height = static_cast<std::uint32_t>(maxBottom);
    }
    // An SPS that states its own size keeps it: after a resolution change the stream's
    // largest extent is not every SPS's size.
    for (analysis::ParameterSetInfo& ps : document_.parameterSets) {
        if (ps.kind != analysis::ParameterSetKind::Sps) {
            continue;
        }
        if (!ps.width && maxRight != 0) {
            ps.width = static_cast<std::uint32_t>(maxRight);
        }
        if (!ps.height && maxBottom != 0) {
            ps.height = static_cast<std::uint32_t>(maxBottom);
        }
    }
}

void DocumentBuilder::pruneInconsistentBlocks()
{
    if (document_.ctus.empty() && document_.cus.empty() && document_.pus.empty() && document_.tus.empty()) {
        return;
    }
    bool removed = false;
    const auto dropRepeated = [&](auto& blocks, const char* collection) {
        if (dropRepeatedIdentities(blocks)) {
            removed = true;
            issues_.appendAnalyzerIssue(codes::kDuplicateIdentity, codes::kDuplicateIdentityMessage,
                                        std::string(codes::kCollectionDetail) + collection);
        }
    };
    dropRepeated(document_.ctus, "ctus");
    dropRepeated(document_.cus, "cus");
    dropRepeated(document_.pus, "pus");
    dropRepeated(document_.tus, "tus");
    dropRepeated(document_.motionVectors, "motionVectors");

    const std::optional<BlockRect> sps = spsPicture(document_);
    StableIdTable<BlockRect> pictureRects;
    pictureRects.reserve(document_.pictures.size());
    for (const analysis::PictureAnalysisSummary& picture : document_.pictures) {
        if (picture.width.value_or(0) != 0 && picture.height.value_or(0) != 0) {
            pictureRects.insert(picture.id, pictureRect(*picture.width, *picture.height));
        }
    }
    removed |= keepInOrder(document_.ctus, [&](const analysis::CtuInfo& ctu) {
        if (!isWellFormed(ctu.bounds)) {
            return false;
        }
        const BlockRect* picture = pictureRects.find(ctu.parentPictureSummaryId);
        return picture == nullptr || contains(*picture, ctu.bounds) || (sps && contains(*sps, ctu.bounds));
    });

    const BlockPlaces ctus = placesOf(document_.ctus, [](const analysis::CtuInfo& ctu) { return ctu.parentPictureSummaryId; });
    const auto insideParent = [](const BlockPlaces& parents, const StableId& parentId, const BlockRect& bounds) {
        const BlockPlace* parent = parents.find(parentId);
        return parent != nullptr && contains(parent->bounds, bounds);
    };
    removed |= keepInOrder(document_.cus, [&](const analysis::CuInfo& cu) {
        return insideParent(ctus, cu.parentCtuId, cu.bounds);
    });
    const BlockPlaces cus = placesOf(document_.cus, [](const analysis::CuInfo& cu) { return cu.parentCtuId; });
    for (std::size_t i = 0; i < document_.cus.size(); ++i) {
        analysis::CuInfo& cu = document_.cus[i];
        if (cu.parentCuId && !isSoundSameKindParent(cus, *cu.parentCuId, cu.parentCtuId, i, cu.bounds)) {
            cu.parentCuId.reset();
        }
    }

    removed |= keepInOrder(document_.pus, [&](const analysis::PuInfo& pu) {
        return insideParent(cus, pu.parentCuId, pu.bounds);
    });
    removed |= keepInOrder(document_.tus, [&](const analysis::TuInfo& tu) {
        return insideParent(cus, tu.parentCuId, tu.bounds);
    });
    const BlockPlaces tus = placesOf(document_.tus, [](const analysis::TuInfo& tu) { return tu.parentCuId; });
    for (std::size_t i = 0; i < document_.tus.size(); ++i) {
        analysis::TuInfo& tu = document_.tus[i];
        if (tu.parentTuId && !isSoundSameKindParent(tus, *tu.parentTuId, tu.parentCuId, i, tu.bounds)) {
            tu.parentTuId.reset();
        }
    }

    StableIdSet referenceEntries;
    for (const analysis::ReferencePictureEntry& entry : document_.referencePictures) {
        referenceEntries.insert(entry.id, {});
    }
    StableIdSet keptPus;
    keptPus.reserve(document_.pus.size());
    for (analysis::PuInfo& pu : document_.pus) {
        dropDanglingLink(pu.referencePictureL0Id, referenceEntries);
        dropDanglingLink(pu.referencePictureL1Id, referenceEntries);
        keptPus.insert(pu.id, {});
    }
    removed |= keepInOrder(document_.motionVectors,
                           [&](const analysis::MotionVectorInfo& mv) { return keptPus.contains(mv.parentPuId); });
    for (analysis::MotionVectorInfo& mv : document_.motionVectors) {
        dropDanglingLink(mv.referencePictureId, referenceEntries);
    }

    if (!removed) {
        return;
    }
    issues_.appendAnalyzerIssue(codes::kBlockGeometry, codes::kBlockGeometryMessage);
    // The picture counts follow what is left.
    StableIdTable<analysis::PictureAnalysisSummary*> pictures;
    for (analysis::PictureAnalysisSummary& picture : document_.pictures) {
        picture.ctuCount.reset();
        picture.cuCount.reset();
        picture.puCount.reset();
        picture.tuCount.reset();
        pictures.insert(picture.id, &picture);
    }
    const auto pictureOfCtu = [&](const StableId& ctuId) -> analysis::PictureAnalysisSummary* {
        const BlockPlace* ctu = ctus.find(ctuId);
        analysis::PictureAnalysisSummary* const* picture = ctu == nullptr ? nullptr : pictures.find(ctu->parent);
        return picture == nullptr ? nullptr : *picture;
    };
    const auto pictureOfCu = [&](const StableId& cuId) -> analysis::PictureAnalysisSummary* {
        const BlockPlace* cu = cus.find(cuId);
        return cu == nullptr ? nullptr : pictureOfCtu(cu->parent);
    };
    for (const analysis::CtuInfo& ctu : document_.ctus) {
        if (analysis::PictureAnalysisSummary* const* picture = pictures.find(ctu.parentPictureSummaryId)) {
            (*picture)->ctuCount = (*picture)->ctuCount.value_or(0) + 1;
        }
    }
    for (const analysis::CuInfo& cu : document_.cus) {
        if (analysis::PictureAnalysisSummary* picture = pictureOfCtu(cu.parentCtuId)) {
            picture->cuCount = picture->cuCount.value_or(0) + 1;
        }
    }
    for (const analysis::PuInfo& pu : document_.pus) {
        if (analysis::PictureAnalysisSummary* picture = pictureOfCu(pu.parentCuId)) {
            picture->puCount = picture->puCount.value_or(0) + 1;
        }
    }
    for (const analysis::TuInfo& tu : document_.tus) {
        if (analysis::PictureAnalysisSummary* picture = pictureOfCu(tu.parentCuId)) {
            picture->tuCount = picture->tuCount.value_or(0) + 1;
        }
    }
}

void DocumentBuilder::recordPartialCollection()
{
    const std::uint64_t dropped = collector_.droppedCount();
    if (dropped != 0) {
        document_.errors.push_back(partialCollectionIssue(
            deriveStableId(document_.id, ObjectKind::PartialCollectionIssue, dropped), collector_.statisticsText()));
    }
    markPicturesWithLostBlocks();
}

analysis::AnalysisErrorInfo DocumentBuilder::partialCollectionIssue(const analysis::StableId& id,
                                                                    std::string detail) const
{
    return analyzerErrorRecord(document_.id, id, codes::kObserverPartial, codes::kObserverPartialMessage,
                               std::move(detail));
}

// A picture keeps all its blocks or none. One that lost them stays in the document with
// its summary, marked partial and named by an issue of its own; one that kept them all
// is complete.
void DocumentBuilder::markPicturesWithLostBlocks()
{
    for (analysis::PictureAnalysisSummary& picture : document_.pictures) {
        if (picture.ctuCount.value_or(0) != 0) {
            picture.completeness = analysis::PictureCompleteness::Complete;
        }
    }
    for (const PictureBlockLoss& loss : collector_.picturesWithLostBlocks()) {
        analysis::PictureAnalysisSummary* picture = pictureOf(loss.pictureIdentity);
        if (picture == nullptr) {
            continue;
        }
        picture->completeness = analysis::PictureCompleteness::Partial;
        const std::string detail =
            pictureBlocksDetail(*picture, loss.pictureIdentity, {loss.ctus, loss.cus, loss.pus, loss.tus}) +
            "; dropped=" + std::to_string(loss.droppedEvents);
        analysis::AnalysisErrorInfo issue = partialCollectionIssue(
            deriveStableId(picture->id, ObjectKind::PartialCollectionIssue, loss.pictureIdentity), detail);
        issue.relatedObjectId = picture->id;
        document_.errors.push_back(std::move(issue));
    }
}

}  // namespace vexilo::analyzer
