#include "builder/BuilderCodes.h"
#include "builder/BuilderValues.h"
#include "builder/DocumentBuilder.h"
#include "builder/PlaceOrderedSort.h"
#include "collector/ObserverEventCollector.h"
#include "vexilo/analysis/cache/CacheContainer.h"

#include "nal_unit.h"

#include <algorithm>
#include <bit>
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
constexpr std::uint8_t kMaxTemporalId = 6;
constexpr std::uint64_t kExtentLimit = 65536;
// Enough pictures read back ahead that making one never waits for its blocks: reading and
// sorting a picture's blocks takes less than making them into records.
constexpr std::size_t kPicturesReadAhead = 3;

template <typename Count>
void addCount(std::optional<Count>& count, std::uint64_t blocks)
{
    if (blocks != 0) {
        count = static_cast<Count>(count.value_or(0) + blocks);
    }
}

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
// sort is far cheaper than a hash probe per block. What is sorted is one word per block:
// the top bits of a word folded from its identity above the block's place, a quarter of
// the bytes of the identities themselves; blocks whose words meet in those bits are told
// apart by their whole identities.
template <typename Block>
bool dropRepeatedIdentities(std::vector<Block>& blocks)
{
    const auto placeBits = static_cast<unsigned>(std::bit_width(blocks.size()));
    const std::uint64_t placeMask = placeBits == 0 ? 0 : ~std::uint64_t{0} >> (64 - placeBits);
    const auto placeOf = [placeMask](std::uint64_t packed) { return static_cast<std::size_t>(packed & placeMask); };
    const auto foldOf = [placeMask](std::uint64_t packed) { return packed & ~placeMask; };
    std::vector<std::uint64_t> packed;
    packed.reserve(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        packed.push_back((static_cast<std::uint64_t>(StableIdHash{}(blocks[i].id)) & ~placeMask) | i);
    }
    sortAbovePlaces(packed, placeBits);
    std::vector<bool> repeated(blocks.size(), false);
    bool any = false;
    for (std::size_t runStart = 0; runStart < packed.size();) {
        std::size_t runEnd = runStart + 1;
        while (runEnd < packed.size() && foldOf(packed[runEnd]) == foldOf(packed[runStart])) {
            ++runEnd;
        }
        // Within a run the places ascend, so an identity met earlier in it is the first block's.
        for (std::size_t k = runStart + 1; k < runEnd; ++k) {
            const StableId& id = blocks[placeOf(packed[k])].id;
            for (std::size_t earlier = runStart; earlier < k; ++earlier) {
                const std::size_t earlierPlace = placeOf(packed[earlier]);
                if (!repeated[earlierPlace] && blocks[earlierPlace].id == id) {
                    repeated[placeOf(packed[k])] = true;
                    any = true;
                    break;
                }
            }
        }
        runStart = runEnd;
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

// With an index, a search looks this far on from the last block found before asking it.
constexpr std::size_t kScanBeforeTheIndex = 8;
// How far a search for a quadtree parent looks behind its child: the nodes of a 64x64 coding
// quadtree down to 8x8 blocks, and more.
constexpr std::size_t kParentBehindScanLength = 128;

// Finds the blocks of one collection by identity once repeated identities are gone, without a
// hash table for millions of blocks. Children of another collection are stored in their
// parents' order: the next parent lies on from the last one found, however many parents
// without such children lie between (skipped CUs without TUs, an intra picture's PUs without
// motion vectors). A quadtree parent lies a little before its child. Only when a scan misses
// (the parent is gone, or out of order) is an index by identity made, and asked from then on.
// The collection must not change while it is searched.
template <typename Block>
class BlockFinder {
public:
    BlockFinder() = default;
    explicit BlockFinder(const std::vector<Block>& blocks) : blocks_(&blocks) {}

    // The block with this identity, looked for on from the last one found. Each search goes on
    // from where the one before it ended, so that all of them together read the blocks once
    // before an index is made.
    [[nodiscard]] const Block* find(const StableId& id) const
    {
        if (blocks_ == nullptr || id.isNull()) {
            return nullptr;
        }
        if (const Block* ahead = scanOn(id, index_ ? kScanBeforeTheIndex : blocks_->size())) {
            return ahead;
        }
        return findInTheIndex(id);
    }

    // The quadtree parent with this identity of the block at `childPosition`.
    [[nodiscard]] const Block* findParentOf(const StableId& id, std::size_t childPosition) const
    {
        if (blocks_ == nullptr || id.isNull()) {
            return nullptr;
        }
        if (!index_) {
            // Never far on from the child: parents after their children would make every
            // search a long one.
            cursor_ = std::min(childPosition, blocks_->size());
            const Block* near = scanBehind(id);
            if (near == nullptr) {
                near = scanOn(id, kScanBeforeTheIndex);
            }
            return near != nullptr ? near : findInTheIndex(id);
        }
        return find(id);
    }

    [[nodiscard]] std::size_t positionOf(const Block& block) const
    {
        return static_cast<std::size_t>(&block - blocks_->data());
    }

private:
    [[nodiscard]] const Block* foundAt(std::size_t position) const
    {
        cursor_ = position;
        return &(*blocks_)[position];
    }

    [[nodiscard]] const Block* scanOn(const StableId& id, std::size_t length) const
    {
        const std::vector<Block>& blocks = *blocks_;
        // The cursor is a found block's position, or a child's, so never past the end.
        const std::size_t scanEnd = cursor_ + std::min(length, blocks.size() - cursor_);
        for (std::size_t i = cursor_; i < scanEnd; ++i) {
            if (blocks[i].id == id) {
                return foundAt(i);
            }
        }
        return nullptr;
    }

    [[nodiscard]] const Block* scanBehind(const StableId& id) const
    {
        const std::vector<Block>& blocks = *blocks_;
        const std::size_t scanBegin = cursor_ - std::min(cursor_, kParentBehindScanLength);
        for (std::size_t i = cursor_; i-- > scanBegin;) {
            if (blocks[i].id == id) {
                return foundAt(i);
            }
        }
        return nullptr;
    }

    [[nodiscard]] const Block* findInTheIndex(const StableId& id) const
    {
        if (!index_) {
            index_.emplace();
            index_->reserve(blocks_->size());
            for (std::size_t i = 0; i < blocks_->size(); ++i) {
                index_->insert((*blocks_)[i].id, i);
            }
        }
        const std::size_t* position = index_->find(id);
        return position != nullptr ? foundAt(*position) : nullptr;
    }

    const std::vector<Block>* blocks_ = nullptr;
    mutable std::size_t cursor_ = 0;
    mutable std::optional<StableIdTable<std::size_t>> index_;
};

// A link to a parent of the same collection stands when the parent exists in the same
// container and, when it comes first, contains the child.
template <typename Block>
bool isSoundSameKindParent(const BlockFinder<Block>& blocks, const StableId& parentId, StableId Block::*container,
                           const Block& child, std::size_t position)
{
    const Block* parent = blocks.findParentOf(parentId, position);
    if (parent == nullptr || parent->*container != child.*container) {
        return false;
    }
    return blocks.positionOf(*parent) > position || contains(parent->bounds, child.bounds);
}

void dropDanglingLink(std::optional<StableId>& link, const StableIdSet& targets)
{
    if (link && !targets.contains(*link)) {
        link.reset();
    }
}

// Each block collection keeps the first of the blocks that share an identity, with one issue
// naming the collection.
bool dropRepeatedBlockIdentities(analysis::StreamAnalysis& document, AnalyzerIssues& issues)
{
    bool removed = false;
    const auto dropRepeated = [&](auto& blocks, const char* collection) {
        if (dropRepeatedIdentities(blocks)) {
            removed = true;
            issues.appendAnalyzerIssue(codes::kDuplicateIdentity, codes::kDuplicateIdentityMessage,
                                       std::string(codes::kCollectionDetail) + collection);
        }
    };
    dropRepeated(document.ctus, "ctus");
    dropRepeated(document.cus, "cus");
    dropRepeated(document.pus, "pus");
    dropRepeated(document.tus, "tus");
    dropRepeated(document.motionVectors, "motionVectors");
    return removed;
}

// The CTUs and CUs that stayed, where they lie and under which parent: the picture counts
// are made again from them.
struct KeptParents {
    BlockFinder<analysis::CtuInfo> ctus;
    BlockFinder<analysis::CuInfo> cus;
};

// A CTU stays when it is well formed and inside its own picture or the largest SPS picture.
bool dropCtusOutsideTheirPictures(analysis::StreamAnalysis& document, const std::optional<BlockRect>& sps)
{
    StableIdTable<BlockRect> pictureRects;
    pictureRects.reserve(document.pictures.size());
    for (const analysis::PictureAnalysisSummary& picture : document.pictures) {
        if (picture.width.value_or(0) != 0 && picture.height.value_or(0) != 0) {
            pictureRects.insert(picture.id, pictureRect(*picture.width, *picture.height));
        }
    }
    return keepInOrder(document.ctus, [&](const analysis::CtuInfo& ctu) {
        if (!isWellFormed(ctu.bounds)) {
            return false;
        }
        const BlockRect* picture = pictureRects.find(ctu.parentPictureSummaryId);
        return picture == nullptr || contains(*picture, ctu.bounds) || (sps && contains(*sps, ctu.bounds));
    });
}

template <typename Parent>
bool insideParent(const BlockFinder<Parent>& parents, const StableId& parentId, const BlockRect& bounds)
{
    const Parent* parent = parents.find(parentId);
    return parent != nullptr && contains(parent->bounds, bounds);
}

// Cuts the links to a parent of the same collection (a CU's CU, a TU's TU) that do not stand.
template <typename Block>
void unlinkUnsoundSameKindParents(std::vector<Block>& blocks, std::optional<StableId> Block::*sameKindParent,
                                  StableId Block::*container)
{
    const BlockFinder<Block> finder(blocks);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        Block& block = blocks[i];
        std::optional<StableId>& parent = block.*sameKindParent;
        if (parent && !isSoundSameKindParent(finder, *parent, container, block, i)) {
            parent.reset();
        }
    }
}

// Every block stays only inside its parent, from the CTUs down to the PUs and TUs.
bool dropBlocksOutsideTheirParents(analysis::StreamAnalysis& document, const std::optional<BlockRect>& sps,
                                   KeptParents& kept)
{
    bool removed = dropCtusOutsideTheirPictures(document, sps);
    kept.ctus = BlockFinder(document.ctus);
    removed |= keepInOrder(document.cus, [&](const analysis::CuInfo& cu) {
        return insideParent(kept.ctus, cu.parentCtuId, cu.bounds);
    });
    kept.cus = BlockFinder(document.cus);
    unlinkUnsoundSameKindParents(document.cus, &analysis::CuInfo::parentCuId, &analysis::CuInfo::parentCtuId);

    removed |= keepInOrder(document.pus, [&](const analysis::PuInfo& pu) {
        return insideParent(kept.cus, pu.parentCuId, pu.bounds);
    });
    // The TUs start again from the first CU, not from where the PUs ended.
    const BlockFinder<analysis::CuInfo> parentsOfTus(document.cus);
    removed |= keepInOrder(document.tus, [&](const analysis::TuInfo& tu) {
        return insideParent(parentsOfTus, tu.parentCuId, tu.bounds);
    });
    unlinkUnsoundSameKindParents(document.tus, &analysis::TuInfo::parentTuId, &analysis::TuInfo::parentCuId);
    return removed;
}

// Motion vectors go with their PU; links to reference entries that do not exist are cut.
bool dropDanglingMotionLinks(analysis::StreamAnalysis& document)
{
    StableIdSet referenceEntries;
    for (const analysis::ReferencePictureEntry& entry : document.referencePictures) {
        referenceEntries.insert(entry.id, {});
    }
    for (analysis::PuInfo& pu : document.pus) {
        dropDanglingLink(pu.referencePictureL0Id, referenceEntries);
        dropDanglingLink(pu.referencePictureL1Id, referenceEntries);
    }
    // Motion vectors are made right after their PU, so they are found in the PUs' order.
    const BlockFinder<analysis::PuInfo> keptPus(document.pus);
    const bool removed = keepInOrder(document.motionVectors, [&](const analysis::MotionVectorInfo& mv) {
        return keptPus.find(mv.parentPuId) != nullptr;
    });
    for (analysis::MotionVectorInfo& mv : document.motionVectors) {
        dropDanglingLink(mv.referencePictureId, referenceEntries);
    }
    return removed;
}

// The picture counts follow what is left.
void recountPictureBlocks(analysis::StreamAnalysis& document, const KeptParents& kept)
{
    StableIdTable<analysis::PictureAnalysisSummary*> pictures;
    for (analysis::PictureAnalysisSummary& picture : document.pictures) {
        picture.ctuCount.reset();
        picture.cuCount.reset();
        picture.puCount.reset();
        picture.tuCount.reset();
        pictures.insert(picture.id, &picture);
    }
    const auto pictureOfCtu = [&](const StableId& ctuId) -> analysis::PictureAnalysisSummary* {
        const analysis::CtuInfo* ctu = kept.ctus.find(ctuId);
        analysis::PictureAnalysisSummary* const* picture =
            ctu == nullptr ? nullptr : pictures.find(ctu->parentPictureSummaryId);
        return picture == nullptr ? nullptr : *picture;
    };
    const auto pictureOfCu = [&](const StableId& cuId) -> analysis::PictureAnalysisSummary* {
        const analysis::CuInfo* cu = kept.cus.find(cuId);
        return cu == nullptr ? nullptr : pictureOfCtu(cu->parentCtuId);
    };
    const auto count = [](analysis::PictureAnalysisSummary* picture, auto member) {
        if (picture != nullptr) {
            auto& counter = picture->*member;
            counter = counter.value_or(0) + 1;
        }
    };
    for (const analysis::CtuInfo& ctu : document.ctus) {
        const auto* picture = pictures.find(ctu.parentPictureSummaryId);
        count(picture == nullptr ? nullptr : *picture, &analysis::PictureAnalysisSummary::ctuCount);
    }
    for (const analysis::CuInfo& cu : document.cus) {
        count(pictureOfCtu(cu.parentCtuId), &analysis::PictureAnalysisSummary::cuCount);
    }
    for (const analysis::PuInfo& pu : document.pus) {
        count(pictureOfCu(pu.parentCuId), &analysis::PictureAnalysisSummary::puCount);
    }
    for (const analysis::TuInfo& tu : document.tus) {
        count(pictureOfCu(tu.parentCuId), &analysis::PictureAnalysisSummary::tuCount);
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
    const std::optional<hevc::HevcDecoderConfigurationRecord> record = hevc::parseHvcC(context_.extradata);
    if (!record) {
        return;
    }
    const auto lumaBitDepth = static_cast<std::uint8_t>(record->bitDepthLumaMinus8 + 8);
    const auto chromaBitDepth = static_cast<std::uint8_t>(record->bitDepthChromaMinus8 + 8);
    const auto profileIdc = static_cast<std::uint8_t>(record->general_profile_idc);
    std::unordered_set<std::string> knownHashes;
    for (const analysis::ParameterSetInfo& ps : document_.parameterSets) {
        knownHashes.insert(ps.contentHash);
    }
    std::uint64_t added = 0;
    for (const hevc::HvcCNalUnit& unit : record->nalUnits) {
        if (unit.NAL_unit_type < kFirstParameterSetNalType || unit.NAL_unit_type > kLastParameterSetNalType) {
            continue;
        }
        const std::span<const std::uint8_t> bytes =
            context_.extradata.subspan(static_cast<std::size_t>(unit.offset), static_cast<std::size_t>(unit.size));
        const std::string hash = fnv1a64Fingerprint(analysis::fnv1a64(bytes));
        if (!knownHashes.insert(hash).second) {
            continue;
        }
        analysis::NalUnitInfo nal;
        nal.id = deriveStableId(document_.id, ObjectKind::NalUnit, kConfigurationNalKeyTag | unit.offset, added);
        nal.parentStreamAnalysisId = document_.id;
        nal.byteSize = bytes.size();
        nal.byteSpanReliable = false;
        std::uint32_t nalType = unit.NAL_unit_type;
        if (bytes.size() >= 2) {
            nalType = (bytes[0] >> 1) & 0x3Fu;
            nal.layerId = static_cast<std::uint8_t>(((bytes[0] & 0x01u) << 5) | (bytes[1] >> 3));
            nal.temporalId = optionalInRange<std::uint8_t>((bytes[1] & 0x07) - 1, std::uint8_t{0}, kMaxTemporalId);
        }
        nal.nalUnitType = static_cast<std::uint8_t>(nalType);
        nal.kind = nalUnitCategory(nalType);
        nal.contentHash = hash;

        analysis::ParameterSetInfo ps;
        ps.id = deriveStableId(nal.id, ObjectKind::ParameterSet,
                               (std::uint64_t{unit.NAL_unit_type} << 32) | unit.indexInArray);
        ps.parentNalUnitId = nal.id;
        ps.kind = static_cast<analysis::ParameterSetKind>(unit.NAL_unit_type - kFirstParameterSetNalType + 1);
        ps.profile = profileOf(profileIdc, lumaBitDepth);
        ps.profileIdc = profileIdc;
        ps.levelIdc = static_cast<std::uint8_t>(record->general_level_idc);
        if (ps.kind != analysis::ParameterSetKind::Pps) {
            ps.maxSubLayers = optionalPositive<std::uint8_t>(record->numTemporalLayers);
            ps.temporalIdNesting = record->temporalIdNested;
        }
        if (ps.kind == analysis::ParameterSetKind::Sps) {
            ps.width = optionalDimension(context_.width);
            ps.height = optionalDimension(context_.height);
            ps.bitDepth = lumaBitDepth;
            ps.chromaBitDepth = chromaBitDepth;
            ps.chromaFormatIdc = static_cast<std::uint8_t>(record->chromaFormat);
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

void DocumentBuilder::noteLargestSpsPicture()
{
    largestSpsPicture_ = spsPicture(document_);
}

// What the pictures' CTUs tell the stream before any picture's blocks are made: their extent
// and how many each picture parsed. Only the CTUs are read, and those outside their picture
// are passed over as the pruning of the picture's blocks will drop them.
void DocumentBuilder::surveyPictureCtus(CtuExtent& extent, std::vector<std::uint64_t>& parsedCtus)
{
    analysis::StreamAnalysis survey;
    ObserverEventRecord record;
    for (std::size_t index = 0; index < document_.pictures.size(); ++index) {
        const analysis::PictureAnalysisSummary& picture = document_.pictures[index];
        if (!picture.pictureId) {
            continue;
        }
        readBlocksOfNextPicturesAhead(index, VEXILO_OBSERVER_EVENT_CTU);
        survey.pictures.assign(1, picture);
        survey.ctus.clear();
        const BlockDocumentScope scope(*this, survey, *picture.pictureId);
        collector_.forEachBlockOf(
            *picture.pictureId, [this](const ObserverEventRecord& ctu) { handleCtu(ctu); }, record,
            VEXILO_OBSERVER_EVENT_CTU);
        dropCtusOutsideTheirPictures(survey, largestSpsPicture_);
        extent.take(survey.ctus);
        parsedCtus[index] = parsedCtuCount(survey.ctus);
    }
}

void DocumentBuilder::readBlocksOfNextPicturesAhead(std::size_t pictureIndex, std::uint32_t onlyKind) const
{
    const std::size_t end = std::min(document_.pictures.size(), pictureIndex + 1 + kPicturesReadAhead);
    for (std::size_t next = pictureIndex + 1; next < end; ++next) {
        if (const std::optional<std::uint64_t> identity = document_.pictures[next].pictureId) {
            collector_.readBlocksAhead(*identity, onlyKind);
        }
    }
}

// The counts the survey found, before the picture's blocks are made.
void DocumentBuilder::takeKeptBlockCounts()
{
    for (analysis::PictureAnalysisSummary& picture : document_.pictures) {
        if (!picture.pictureId) {
            continue;
        }
        const PictureBlocksKept kept = collector_.keptBlocksOf(*picture.pictureId);
        addCount(picture.ctuCount, kept.blocks[0]);
        addCount(picture.cuCount, kept.blocks[1]);
        addCount(picture.puCount, kept.blocks[2]);
        addCount(picture.tuCount, kept.blocks[3]);
    }
}

void CtuExtent::take(const std::vector<analysis::CtuInfo>& ctus)
{
    for (const analysis::CtuInfo& ctu : ctus) {
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
}

void DocumentBuilder::widenToCtuExtent(const CtuExtent& extent)
{
    const std::uint64_t maxRight = std::max<std::uint64_t>(document_.width.value_or(0), extent.maxRight);
    const std::uint64_t maxBottom = std::max<std::uint64_t>(document_.height.value_or(0), extent.maxBottom);
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

bool DocumentBuilder::pruneInconsistentBlocks(analysis::StreamAnalysis& document)
{
    if (document.ctus.empty() && document.cus.empty() && document.pus.empty() && document.tus.empty()) {
        return false;
    }
    bool removed = dropRepeatedBlockIdentities(document, issues_);
    KeptParents parents;
    removed |= dropBlocksOutsideTheirParents(document, largestSpsPicture_, parents);
    removed |= dropDanglingMotionLinks(document);
    if (!removed) {
        return false;
    }
    issues_.appendAnalyzerIssue(codes::kBlockGeometry, codes::kBlockGeometryMessage);
    recountPictureBlocks(document, parents);
    return true;
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
