#include "builder/DocumentBuilder.h"

#include "builder/BuilderCodes.h"
#include "builder/BuilderValues.h"
#include "builder/SeiPayloadFields.h"
#include "collector/ObserverEventCollector.h"
#include "vexilo/analysis/DocumentId.h"
#include "vexilo/analysis/HugePages.h"

#include <span>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

namespace vexilo::analyzer {
namespace {

namespace codes = builder_codes;

// NAL units placed by their ordinal get keys of their own, apart from byte offsets
// and from the keys of the units made for extradata parameter sets and SEI.
constexpr std::uint64_t kOrdinalKeyTag = 0xB000000000000000ULL;
constexpr std::uint64_t kOrdinalKeyMask = 0x0FFFFFFFFFFFFFFFULL;

constexpr std::uint32_t kPrefixSeiNalUnitType = 39;
constexpr std::uint32_t kSuffixSeiNalUnitType = 40;
constexpr std::uint8_t kMaxNalUnitType = 63;
constexpr std::uint8_t kMaxLayerId = 63;
constexpr std::uint8_t kMaxTemporalId = 6;
constexpr std::uint8_t kShortStartCodeLength = 3;
constexpr std::uint8_t kLongStartCodeLength = 4;

std::uint8_t lowByte(std::uint32_t value) noexcept
{
    return static_cast<std::uint8_t>(value & 0xFFu);
}

std::optional<std::uint8_t> startCodeLengthOf(std::uint32_t value) noexcept
{
    return value == kShortStartCodeLength || value == kLongStartCodeLength
               ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(value))
               : std::nullopt;
}

std::uint64_t nalUnitKey(const VexiloObserverNalUnitEvent& nal, std::uint64_t ordinal) noexcept
{
    if (nal.byteLocationKnown != 0 && nal.byteOffset >= 0) {
        return static_cast<std::uint64_t>(nal.byteOffset);
    }
    return kOrdinalKeyTag | (ordinal & kOrdinalKeyMask);
}

}  // namespace

DecoderContextInfo decoderContextInfo(const AVCodecContext* context)
{
    DecoderContextInfo info;
    if (context == nullptr) {
        return info;
    }
    // The document's sizes are the coded picture's (pic_width/height_in_luma_samples): the
    // blocks of the picture documents are checked against them, and CTUs cover the coded
    // picture. `width`/`height` are the size after the conformance window's cropping; they
    // serve only when the decoder has not set the coded size.
    info.width = context->coded_width > 0 ? context->coded_width : context->width;
    info.height = context->coded_height > 0 ? context->coded_height : context->height;
    info.profile = context->profile;
    if (const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(context->pix_fmt);
        descriptor != nullptr && descriptor->nb_components > 0) {
        info.lumaBitDepth = descriptor->comp[0].depth;
    }
    if (context->extradata != nullptr && context->extradata_size > 0) {
        info.extradata = std::span<const std::uint8_t>(context->extradata,
                                                       static_cast<std::size_t>(context->extradata_size));
    }
    return info;
}

analysis::NalUnitKind nalUnitCategory(std::uint32_t nalUnitType) noexcept
{
    using analysis::NalUnitKind;
    if (nalUnitType < 32) {
        return NalUnitKind::Slice;
    }
    switch (nalUnitType) {
    case 32: return NalUnitKind::Vps;
    case 33: return NalUnitKind::Sps;
    case 34: return NalUnitKind::Pps;
    case 35: return NalUnitKind::Aud;
    case 39: return NalUnitKind::PrefixSei;
    case 40: return NalUnitKind::SuffixSei;
    default: return NalUnitKind::Other;
    }
}

StreamAnalysisBuildResult buildStreamAnalysis(const std::filesystem::path& inputPath,
                                              const std::string& sourceFingerprint, const AVCodecContext* context,
                                              const ObserverEventCollector& collector)
{
    return buildStreamAnalysis(inputPath, sourceFingerprint, decoderContextInfo(context), collector);
}

StreamAnalysisBuildResult buildStreamAnalysis(const std::filesystem::path& inputPath,
                                              const std::string& sourceFingerprint, const DecoderContextInfo& context,
                                              const ObserverEventCollector& collector)
{
    DocumentBuilder builder(inputPath, sourceFingerprint, context, collector);
    return builder.build();
}

DocumentBuilder::DocumentBuilder(const std::filesystem::path& inputPath, const std::string& sourceFingerprint,
                                 const DecoderContextInfo& context, const ObserverEventCollector& collector)
    : inputPath_(inputPath),
      sourceFingerprint_(sourceFingerprint),
      context_(context),
      collector_(collector),
      issues_(document_, pathToUtf8Text(inputPath))
{
}

StreamAnalysisBuildResult DocumentBuilder::build()
{
    if (!buildFromEvents()) {
        return *fatal_;
    }
    // Blocks that do not fit their picture must not widen the stream.
    pruneInconsistentBlocks(document_);
    CtuExtent extent;
    extent.take(document_.ctus);
    widenToCtuExtent(extent);
    recordPartialCollection();
    markPicturesNotCoveredBySlices(parsedCtusOfDocumentPictures());
    markPicturesOfRefusedSlices();
    markPicturesWithMissingReferences();
    return std::move(document_);
}

std::optional<StreamAnalysisBuildError> DocumentBuilder::buildStreamLevel()
{
    blocksPerPicture_ = true;
    if (!buildFromEvents()) {
        return fatal_;
    }
    CtuExtent extent;
    std::vector<std::uint64_t> parsedCtus(document_.pictures.size(), 0);
    surveyPictureCtus(extent, parsedCtus);
    widenToCtuExtent(extent);
    takeKeptBlockCounts();
    recordPartialCollection();
    markPicturesNotCoveredBySlices(parsedCtus);
    markPicturesOfRefusedSlices();
    markPicturesWithMissingReferences();
    return std::nullopt;
}

bool DocumentBuilder::buildFromEvents()
{
    fillRoot();
    if (!indexPictures()) {
        return false;
    }
    if (!(blocksPerPicture_ ? handleStreamEvents() : handleEveryEvent())) {
        return false;
    }
    linkSlicesToPictures();
    forgetPocsOfUnreadPictures();
    linkSeiToPictures();
    addConfigurationRecordParameterSets();
    // Taken before the stream is widened, as the pruning of the whole document takes it.
    noteLargestSpsPicture();
    return true;
}

void DocumentBuilder::addPictureBlocks(std::size_t pictureIndex, analysis::StreamAnalysis& picture)
{
    analysis::PictureAnalysisSummary& summary = document_.pictures[pictureIndex];
    if (!summary.pictureId || picture.pictures.size() != 1) {
        return;
    }
    analysis::PictureAnalysisSummary& own = picture.pictures.front();
    own.ctuCount.reset();
    own.cuCount.reset();
    own.puCount.reset();
    own.tuCount.reset();
    readBlocksOfNextPicturesAhead(pictureIndex);
    {
        const BlockDocumentScope scope(*this, picture, *summary.pictureId);
        ObserverEventRecord record;
        collector_.forEachBlockOf(
            *summary.pictureId, [this](const ObserverEventRecord& block) { handleEvent(block); }, record);
    }
    const bool pruned = pruneInconsistentBlocks(picture);
    if (pruned && own.ctuCount.value_or(0) == 0 && own.completeness == analysis::PictureCompleteness::Complete) {
        own.completeness = analysis::PictureCompleteness::Partial;
    }
    summary = own;
}

bool DocumentBuilder::handleStreamEvents()
{
    ObserverEventRecord record;
    for (const std::uint64_t index : collector_.streamEventPositions()) {
        collector_.readEventAt(index, record);
        if (!handleEvent(record)) {
            return false;
        }
    }
    return true;
}

bool DocumentBuilder::handleEveryEvent()
{
    // The block collections are reserved at their final sizes and filled side by side; their
    // pages are made meanwhile.
    const analysis::PagesFaultedBeside blockPages(
        {analysis::unwrittenRoomOf(document_.ctus), analysis::unwrittenRoomOf(document_.cus),
         analysis::unwrittenRoomOf(document_.pus), analysis::unwrittenRoomOf(document_.tus),
         analysis::unwrittenRoomOf(document_.motionVectors)});
    const std::uint64_t eventCount = collector_.eventCount();
    ObserverEventRecord record;
    for (std::uint64_t index = 0; index < eventCount; ++index) {
        collector_.readEventAt(index, record);
        if (!handleEvent(record)) {
            return false;
        }
    }
    return true;
}

void DocumentBuilder::fillRoot()
{
    document_.id = documentIdFromFingerprint(sourceFingerprint_);
    document_.compactId = compactIdFromStableId(document_.id);
    document_.sourceFingerprint = sourceFingerprint_;
    document_.width = optionalDimension(context_.width);
    document_.height = optionalDimension(context_.height);
    document_.bitDepth = optionalBitDepth(context_.lumaBitDepth);
    document_.profile = profileOf(context_.profile, document_.bitDepth.value_or(0));
    usedIds_.insert(document_.id, {});
}

void DocumentBuilder::reserveForEvents(const std::array<std::size_t, kReservedKinds>& kindCounts)
{
    // Only these events make records with identities of their own; blocks, markers and
    // lifecycle updates do not, and a table sized for every event would be several times
    // larger than needed on a long stream.
    std::size_t identities = document_.pictures.size() + 1;
    for (const std::uint32_t kind :
         {VEXILO_OBSERVER_EVENT_NAL_UNIT, VEXILO_OBSERVER_EVENT_VPS, VEXILO_OBSERVER_EVENT_SPS,
          VEXILO_OBSERVER_EVENT_PPS, VEXILO_OBSERVER_EVENT_SEI_MESSAGE, VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER,
          VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY, VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY,
          VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY, VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY}) {
        identities += kindCounts[kind];
    }
    usedIds_.reserve(identities);
    analysis::reserveOnHugePages(document_.ctus, kindCounts[VEXILO_OBSERVER_EVENT_CTU]);
    analysis::reserveOnHugePages(document_.cus, kindCounts[VEXILO_OBSERVER_EVENT_CU]);
    analysis::reserveOnHugePages(document_.pus, kindCounts[VEXILO_OBSERVER_EVENT_PU]);
    analysis::reserveOnHugePages(document_.motionVectors, blocksPerPicture_ ? 0 : collector_.motionVectorCount());
    analysis::reserveOnHugePages(document_.tus, kindCounts[VEXILO_OBSERVER_EVENT_TU]);
    // Grown by doubling instead, a long stream's reference collections would be copied
    // again and again, hundreds of megabytes in all.
    document_.nalUnits.reserve(kindCounts[VEXILO_OBSERVER_EVENT_NAL_UNIT]);
    document_.parameterSets.reserve(kindCounts[VEXILO_OBSERVER_EVENT_VPS] + kindCounts[VEXILO_OBSERVER_EVENT_SPS] +
                                    kindCounts[VEXILO_OBSERVER_EVENT_PPS]);
    document_.seiMessages.reserve(kindCounts[VEXILO_OBSERVER_EVENT_SEI_MESSAGE]);
    document_.slices.reserve(kindCounts[VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER]);
    document_.shortTermReferencePictures.reserve(kindCounts[VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY]);
    document_.longTermReferencePictures.reserve(kindCounts[VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY]);
    document_.referencePictures.reserve(kindCounts[VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY]);
    document_.dpbSnapshotEntries.reserve(kindCounts[VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY]);
    slicesByIdentity_.reserve(kindCounts[VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER]);
    nalByIdentity_.reserve(kindCounts[VEXILO_OBSERVER_EVENT_NAL_UNIT]);
}

bool DocumentBuilder::indexPictures()
{
    std::array<std::size_t, kReservedKinds> kindCounts{};
    const std::array<std::uint64_t, 4>& blockCounts = collector_.blockEventCountsByKind();
    for (std::size_t block = 0; block < blockCounts.size() && !blocksPerPicture_; ++block) {
        kindCounts[VEXILO_OBSERVER_EVENT_CTU + block] = blockCounts[block];
    }
    ObserverEventRecord record;
    // The millions of blocks are counted, not visited; of the other events only the pictures
    // put out are read whole.
    for (const std::uint64_t index : collector_.streamEventPositions()) {
        const std::uint32_t kind = collector_.eventKindAt(index);
        if (kind < kReservedKinds) {
            ++kindCounts[kind];
        }
        if (kind != VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT) {
            continue;
        }
        collector_.readEventAt(index, record);
        if (record.pictureIdentity == 0 || record.displayIndex < 0) {
            return fail(codes::kPictureIdentity, codes::kPictureIdentityMessage);
        }
        if (picturesByIdentity_.contains(record.pictureIdentity)) {
            continue;
        }
        const VexiloObserverPictureOutputEvent& output = record.payload.pictureOutput;
        analysis::PictureAnalysisSummary picture;
        picture.id = pictureIdOf(record.pictureIdentity);
        picture.parentStreamAnalysisId = document_.id;
        picture.pictureId = record.pictureIdentity;
        picture.displayIndex = record.displayIndex;
        picture.decodeIndex = output.decodeIndex >= 0 ? std::optional<std::int64_t>(output.decodeIndex) : std::nullopt;
        picture.pts = optionalTimestamp(record.pts);
        picture.dts = optionalTimestamp(record.dts);
        picture.poc = output.poc;
        picture.pictureType = pictureTypeOf(record.pictureType);
        picture.width = optionalDimension(record.width);
        picture.height = optionalDimension(record.height);
        picture.bitDepth = document_.bitDepth;
        picture.completeness = analysis::PictureCompleteness::Partial;
        usedIds_.insert(picture.id, {});
        picturesByIdentity_.emplace(record.pictureIdentity, document_.pictures.size());
        picturesByDisplayIndex_.emplace(record.displayIndex, document_.pictures.size());
        document_.pictures.push_back(std::move(picture));
    }
    reserveForEvents(kindCounts);
    return true;
}

bool DocumentBuilder::handleEvent(const ObserverEventRecord& record)
{
    switch (record.kind) {
    case VEXILO_OBSERVER_EVENT_NAL_UNIT: return handleNalUnit(record);
    case VEXILO_OBSERVER_EVENT_VPS:
    case VEXILO_OBSERVER_EVENT_SPS:
    case VEXILO_OBSERVER_EVENT_PPS: return handleParameterSet(record);
    case VEXILO_OBSERVER_EVENT_VPS_LAYER_SET: return handleVpsLayerSet(record);
    case VEXILO_OBSERVER_EVENT_SEI_MESSAGE: return handleSeiMessage(record);
    case VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER: return handleSlice(record);
    case VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY: return handleShortTermRps(record);
    case VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY: return handleLongTermRps(record);
    case VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY: return handleReferenceList(record);
    case VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY: return handleDpbEntry(record);
    case VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER: return handleReferenceState(record);
    case VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT: return handlePictureOutput(record);
    case VEXILO_OBSERVER_EVENT_PICTURE_LIFECYCLE_UPDATE: return handlePictureLifecycleUpdate(record);
    case VEXILO_OBSERVER_EVENT_CTU: handleCtu(record); return true;
    case VEXILO_OBSERVER_EVENT_CU: handleCu(record); return true;
    case VEXILO_OBSERVER_EVENT_PU: handlePu(record); return true;
    case VEXILO_OBSERVER_EVENT_TU: handleTu(record); return true;
    case VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC: handleSyntaxDiagnostic(record); return true;
    default: return true;
    }
}

bool DocumentBuilder::fail(std::string_view code, std::string_view message)
{
    fatal_ = StreamAnalysisBuildError{std::string(code), std::string(message), issues_.detailText({}), 0};
    return false;
}

bool DocumentBuilder::claimIdentity(const analysis::StableId& id, std::string_view collection)
{
    if (usedIds_.insert(id, {})) {
        return true;
    }
    issues_.appendAnalyzerIssue(codes::kDuplicateIdentity, codes::kDuplicateIdentityMessage,
                                std::string(codes::kCollectionDetail) + std::string(collection));
    return false;
}

void DocumentBuilder::makeCurrentNal(const analysis::StableId& id, std::uint32_t nalUnitType)
{
    currentNal_ = CurrentNal{id, nalUnitType};
}

std::uint64_t DocumentBuilder::nextChildOfCurrentNal()
{
    // A repeated NAL unit continues its counter, so that its children stay distinct.
    return childCounters_.at(currentNal_->id)++;
}

void DocumentBuilder::ensureSyntheticNal(std::uint64_t key, std::uint32_t nalUnitType, std::uint64_t contentHash)
{
    const analysis::StableId id = deriveStableId(document_.id, ObjectKind::NalUnit, key);
    if (usedIds_.insert(id, {})) {
        analysis::NalUnitInfo nal;
        nal.id = id;
        nal.parentStreamAnalysisId = document_.id;
        nal.kind = nalUnitCategory(nalUnitType);
        nal.nalUnitType = static_cast<std::uint8_t>(nalUnitType);
        nal.contentHash = fnv1a64Fingerprint(contentHash);
        nal.byteSpanReliable = false;
        document_.nalUnits.push_back(std::move(nal));
    }
    makeCurrentNal(id, nalUnitType);
}

const DocumentBuilder::SliceEntry* DocumentBuilder::sliceOf(std::uint64_t sliceIdentity)
{
    // A slice's reference and DPB events come one after another: most look-ups repeat the last.
    if (sliceIdentity != 0 && sliceIdentity == lastSlice_.identity) {
        return lastSlice_.entry;
    }
    const auto found = slicesByIdentity_.find(sliceIdentity);
    if (found == slicesByIdentity_.end()) {
        return nullptr;
    }
    lastSlice_ = LastSlice{sliceIdentity, &found->second};
    return &found->second;
}

analysis::PictureAnalysisSummary* DocumentBuilder::pictureOf(std::uint64_t pictureIdentity)
{
    if (pictureIdentity != 0 && pictureIdentity == lastPictureIdentity_) {
        return &document_.pictures[lastPicturePosition_];
    }
    const auto found = picturesByIdentity_.find(pictureIdentity);
    if (found == picturesByIdentity_.end()) {
        return nullptr;
    }
    lastPictureIdentity_ = pictureIdentity;
    lastPicturePosition_ = found->second;
    return &document_.pictures[found->second];
}

analysis::PictureAnalysisSummary* DocumentBuilder::blockPictureOf(std::uint64_t pictureIdentity)
{
    if (blockDocument_ == &document_) {
        return pictureOf(pictureIdentity);
    }
    return pictureIdentity == blockPictureIdentity_ ? &blockDocument_->pictures.front() : nullptr;
}

analysis::StableId DocumentBuilder::pictureIdOf(std::uint64_t pictureIdentity) const
{
    return deriveStableId(document_.id, ObjectKind::PictureSummary, pictureIdentity);
}

analysis::StableId DocumentBuilder::ctuIdOf(const analysis::StableId& pictureId, std::uint32_t ctuAddress)
{
    if (lastCtu_.id.isNull() || lastCtu_.parent != pictureId || lastCtu_.key != ctuAddress) {
        lastCtu_ = DerivationCache{pictureId, ctuAddress, deriveStableId(pictureId, ObjectKind::Ctu, ctuAddress)};
    }
    return lastCtu_.id;
}

analysis::StableId DocumentBuilder::cuIdOf(const analysis::StableId& ctuId, std::uint64_t cuIdentity)
{
    if (lastCu_.id.isNull() || lastCu_.parent != ctuId || lastCu_.key != cuIdentity) {
        lastCu_ = DerivationCache{ctuId, cuIdentity, deriveStableId(ctuId, ObjectKind::Cu, cuIdentity)};
    }
    return lastCu_.id;
}

std::optional<analysis::StableId> DocumentBuilder::referenceEntryIdOf(const SliceEntry* slice, std::uint32_t list,
                                                                      std::int32_t referenceIndex) const
{
    if (slice == nullptr || referenceIndex < 0) {
        return std::nullopt;
    }
    const std::uint64_t key = (std::uint64_t{list} << 32) | static_cast<std::uint32_t>(referenceIndex);
    return deriveStableId(slice->id, ObjectKind::ReferenceListEntry, key);
}

bool DocumentBuilder::handleNalUnit(const ObserverEventRecord& record)
{
    const VexiloObserverNalUnitEvent& event = record.payload.nalUnit;
    const analysis::StableId id = deriveStableId(document_.id, ObjectKind::NalUnit, nalUnitKey(event, record.ordinal));
    if (claimIdentity(id, "nalUnits")) {
        const bool located = event.byteLocationKnown != 0 && event.byteOffset >= 0;
        analysis::NalUnitInfo nal;
        nal.id = id;
        nal.parentStreamAnalysisId = document_.id;
        nal.byteOffset = located ? static_cast<std::uint64_t>(event.byteOffset) : 0;
        // A span must not run past the end of the 64-bit range, and a reliable one
        // cannot be empty.
        nal.byteSize = std::min(event.byteSize, ~nal.byteOffset);
        nal.byteSpanReliable = event.byteLocationKnown != 0 && nal.byteSize != 0;
        nal.kind = nalUnitCategory(event.nalUnitType);
        nal.nalUnitType = optionalInRange<std::uint8_t>(event.nalUnitType, std::uint8_t{0}, kMaxNalUnitType);
        nal.layerId = optionalInRange<std::uint8_t>(lowByte(event.layerId), std::uint8_t{0}, kMaxLayerId);
        nal.temporalId = optionalInRange<std::uint8_t>(lowByte(event.temporalId), std::uint8_t{0}, kMaxTemporalId);
        nal.startCodeLength = startCodeLengthOf(event.startCodeLength);
        nal.contentHash = fnv1a64Fingerprint(event.contentHash);
        document_.nalUnits.push_back(std::move(nal));
    }
    if (record.nalIdentity != 0) {
        nalByIdentity_.insert_or_assign(record.nalIdentity, id);
    }
    makeCurrentNal(id, event.nalUnitType);
    return true;
}

bool DocumentBuilder::handleSeiMessage(const ObserverEventRecord& record)
{
    const VexiloObserverSeiMessageEvent& event = record.payload.sei;
    const bool inSeiNal = currentNal_ && (currentNal_->nalUnitType == kPrefixSeiNalUnitType ||
                                          currentNal_->nalUnitType == kSuffixSeiNalUnitType);
    if (!inSeiNal) {
        ensureSyntheticNal(composeKey48(event.payloadType, event.payloadHash), kPrefixSeiNalUnitType,
                           event.payloadHash);
        issues_.appendAnalyzerIssue(codes::kExtradataSei, codes::kExtradataSeiMessage,
                                    "payloadType=" + std::to_string(event.payloadType));
    }
    const analysis::StableId id =
        deriveStableId(currentNal_->id, ObjectKind::SeiMessage, event.payloadType, nextChildOfCurrentNal());
    if (!claimIdentity(id, "seiMessages")) {
        return true;
    }
    analysis::SeiMessageInfo sei;
    sei.id = id;
    sei.parentNalUnitId = currentNal_->id;
    sei.payloadType = event.payloadType;
    sei.payloadSize = event.payloadSize;
    sei.payloadHash = fnv1a64Fingerprint(event.payloadHash);
    sei.status = seiStatusOf(event.status);
    sei.truncated = record.payloadTruncated;
    appendSeiPayloadFields(event.payloadType,
                           std::span<const std::uint8_t>(record.payloadBytes.data(), record.payloadCopiedSize),
                           sei.syntaxElements, sei.truncated);
    document_.seiMessages.push_back(std::move(sei));
    return true;
}

}  // namespace vexilo::analyzer
