#pragma once

#include "builder/AnalyzerIssues.h"
#include "builder/StableIdDerivation.h"
#include "vexilo/analysis/StableIdTable.h"
#include "builder/StreamAnalysisBuilder.h"
#include "observer/ObserverEventRecord.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vexilo::analyzer {

using analysis::StableIdSet;
using analysis::StableIdTable;

// How far the CTUs of the document's pictures reach, in luma samples.
struct CtuExtent {
    std::uint64_t maxRight = 0;
    std::uint64_t maxBottom = 0;

    void take(const std::vector<analysis::CtuInfo>& ctus);
};

[[nodiscard]] std::uint64_t parsedCtuCount(const std::vector<analysis::CtuInfo>& ctus) noexcept;

// One run of the document builder: the document under construction and the indexes
// that link events to the records made from earlier events. Handlers return false
// after recording a fatal error.
class DocumentBuilder {
public:
    DocumentBuilder(const std::filesystem::path& inputPath, const std::string& sourceFingerprint,
                    const DecoderContextInfo& context, const ObserverEventCollector& collector);

    // The whole document, blocks and all.
    [[nodiscard]] StreamAnalysisBuildResult build();

    // The stream-level document without any block: every picture's summary counts the blocks
    // it kept and is marked as the whole document would mark it. The document stays here, so
    // that each picture's blocks can be made after it; nothing on failure.
    [[nodiscard]] std::optional<StreamAnalysisBuildError> buildStreamLevel();
    [[nodiscard]] analysis::StreamAnalysis& document() noexcept { return document_; }
    // Adds the blocks of the index-th picture of the stream-level document to `picture` (its
    // document split from the stream-level one), pruned as the whole document would prune
    // them; the stream-level summary follows what is left, and issues go to the stream.
    void addPictureBlocks(std::size_t pictureIndex, analysis::StreamAnalysis& picture);

private:
    // While it lives, block records go into another document, all of one picture.
    class BlockDocumentScope {
    public:
        BlockDocumentScope(DocumentBuilder& builder, analysis::StreamAnalysis& document,
                           std::uint64_t pictureIdentity)
            : builder_(builder)
        {
            builder_.blockDocument_ = &document;
            builder_.blockPictureIdentity_ = pictureIdentity;
        }
        ~BlockDocumentScope() { builder_.blockDocument_ = &builder_.document_; }
        BlockDocumentScope(const BlockDocumentScope&) = delete;
        BlockDocumentScope& operator=(const BlockDocumentScope&) = delete;

    private:
        DocumentBuilder& builder_;
    };

    struct CurrentNal {
        analysis::StableId id;
        std::uint32_t nalUnitType = 0;
    };
    struct SliceEntry {
        std::size_t position = 0;
        analysis::StableId id;
    };
    // The CTB grid a picture is coded on, from the SPS its first slice names.
    struct CtbGrid {
        std::uint32_t log2CtbSize = 0;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
    };

    static constexpr std::size_t kReservedKinds = VEXILO_OBSERVER_EVENT_KIND_COUNT + 1;

    // Stream root and picture summaries.
    void fillRoot();
    bool indexPictures();
    // The passes both builds begin with; false when an event ends the build.
    bool buildFromEvents();
    // False when an event ends the build (`fatal_` says why).
    bool handleEveryEvent();
    bool handleStreamEvents();
    void reserveForEvents(const std::array<std::size_t, kReservedKinds>& kindCounts);

    // Main pass, one handler per event kind.
    bool handleEvent(const ObserverEventRecord& record);
    bool handleNalUnit(const ObserverEventRecord& record);
    bool handleParameterSet(const ObserverEventRecord& record);
    bool handleVpsLayerSet(const ObserverEventRecord& record);
    bool handleSeiMessage(const ObserverEventRecord& record);
    bool handleSlice(const ObserverEventRecord& record);
    bool handleShortTermRps(const ObserverEventRecord& record);
    bool handleLongTermRps(const ObserverEventRecord& record);
    bool handleReferenceList(const ObserverEventRecord& record);
    bool handleDpbEntry(const ObserverEventRecord& record);
    bool handleReferenceState(const ObserverEventRecord& record);
    bool handlePictureOutput(const ObserverEventRecord& record);
    bool handlePictureLifecycleUpdate(const ObserverEventRecord& record);
    void handleSyntaxDiagnostic(const ObserverEventRecord& record);
    [[nodiscard]] const analysis::NalUnitInfo* nalUnitOfDiagnostic(std::uint64_t nalIdentity) const;
    void handleCtu(const ObserverEventRecord& record);
    void handleCu(const ObserverEventRecord& record);
    void handlePu(const ObserverEventRecord& record);
    void handleTu(const ObserverEventRecord& record);

    // Post-passes.
    void linkSlicesToPictures();
    void linkSeiToPictures();
    void addConfigurationRecordParameterSets();
    void widenToCtuExtent(const CtuExtent& extent);
    void noteLargestSpsPicture();
    // True when blocks were dropped.
    bool pruneInconsistentBlocks(analysis::StreamAnalysis& document);
    void surveyPictureCtus(CtuExtent& extent, std::vector<std::uint64_t>& parsedCtus);
    // Has the collector read back the blocks (of one kind, when one is given) of the pictures
    // after this one while this one is made.
    void readBlocksOfNextPicturesAhead(std::size_t pictureIndex, std::uint32_t onlyKind = 0) const;
    void takeKeptBlockCounts();
    void recordPartialCollection();
    void markPicturesWithLostBlocks();
    [[nodiscard]] std::vector<std::uint64_t> parsedCtusOfDocumentPictures() const;
    void markPicturesNotCoveredBySlices(const std::vector<std::uint64_t>& parsedCtus);
    void markPicturesWithMissingReferences();
    void markPicturesOfRefusedSlices();
    void forgetPocsOfUnreadPictures();
    // Parameter sets and slices name the grid of each picture as they come.
    void noteParameterSetGrid(const VexiloObserverParameterSetEvent& event);
    void notePictureGrid(std::uint64_t pictureIdentity, std::optional<std::uint16_t> ppsId);
    [[nodiscard]] analysis::AnalysisErrorInfo partialCollectionIssue(const analysis::StableId& id,
                                                                    std::string detail) const;

    // Helpers shared by the handlers.
    bool fail(std::string_view code, std::string_view message);
    // False (and one issue) when the identity is already taken: the first object wins.
    bool claimIdentity(const analysis::StableId& id, std::string_view collection);
    void makeCurrentNal(const analysis::StableId& id, std::uint32_t nalUnitType);
    std::uint64_t nextChildOfCurrentNal();
    void ensureSyntheticNal(std::uint64_t key, std::uint32_t nalUnitType, std::uint64_t contentHash);
    const SliceEntry* sliceOf(std::uint64_t sliceIdentity);
    analysis::PictureAnalysisSummary* pictureOf(std::uint64_t pictureIdentity);
    // The summary block records count into: the stream's, or the one picture's of the
    // document they go into.
    analysis::PictureAnalysisSummary* blockPictureOf(std::uint64_t pictureIdentity);
    analysis::StableId pictureIdOf(std::uint64_t pictureIdentity) const;
    // Consecutive block events share their CTU and CU; the last derivation is kept.
    analysis::StableId ctuIdOf(const analysis::StableId& pictureId, std::uint32_t ctuAddress);
    analysis::StableId cuIdOf(const analysis::StableId& ctuId, std::uint64_t cuIdentity);
    std::optional<analysis::StableId> referenceEntryIdOf(const SliceEntry* slice, std::uint32_t list,
                                                         std::int32_t referenceIndex) const;

    const std::filesystem::path& inputPath_;
    const std::string& sourceFingerprint_;
    const DecoderContextInfo& context_;
    const ObserverEventCollector& collector_;

    analysis::StreamAnalysis document_;
    analysis::StreamAnalysis* blockDocument_ = &document_;
    std::uint64_t blockPictureIdentity_ = 0;
    // Set by buildStreamLevel: the stream-level document holds no block.
    bool blocksPerPicture_ = false;
    std::optional<analysis::BlockRect> largestSpsPicture_;
    AnalyzerIssues issues_;
    std::optional<StreamAnalysisBuildError> fatal_;

    std::unordered_map<std::uint64_t, std::size_t> picturesByIdentity_;
    std::unordered_map<std::int64_t, std::size_t> picturesByDisplayIndex_;
    std::unordered_map<std::uint64_t, analysis::StableId> nalByIdentity_;
    std::unordered_map<std::uint64_t, SliceEntry> slicesByIdentity_;
    StableIdTable<std::uint64_t> childCounters_;
    StableIdSet usedIds_;
    std::optional<CurrentNal> currentNal_;

    struct DerivationCache {
        analysis::StableId parent;
        std::uint64_t key = 0;
        analysis::StableId id;
    };
    DerivationCache lastCtu_;
    DerivationCache lastCu_;
    std::uint64_t syntaxDiagnosticCount_ = 0;
    // A refused slice segment and the error that says so, positions in their collections.
    struct RefusedSlice {
        std::size_t errorPosition = 0;
        std::size_t nalPosition = 0;
    };
    std::vector<RefusedSlice> refusedSlices_;
    struct LastSlice {
        std::uint64_t identity = 0;
        const SliceEntry* entry = nullptr;
    };
    // Entries of an unordered_map keep their address while others are added.
    LastSlice lastSlice_;
    std::uint64_t lastPictureIdentity_ = 0;
    std::size_t lastPicturePosition_ = 0;
    std::unordered_map<std::uint32_t, CtbGrid> spsGrids_;
    std::unordered_map<std::uint32_t, std::uint32_t> spsIdOfPps_;
    std::unordered_map<std::uint64_t, CtbGrid> pictureGrids_;
};

}  // namespace vexilo::analyzer
