#pragma once

// Synthetic analyses for the cache tests and the cache benchmark: any number of
// pictures, each with its slice, reference entries and optionally block structure,
// all of them passing domain validation.

#include "TestDocumentParts.h"
#include "vexilo/analysis/StreamAnalysis.h"

#include <cstdint>
#include <string>

namespace vexilo::analysis::cachetest {

using test_parts::addParameterSetNalUnits;
using test_parts::addParameterSets;
using test_parts::lumaRect;
using test_parts::makeNalUnit;

// Each object kind has its own high word; the low word counts from 1 per picture.
namespace ids {
using namespace test_parts::ids;
inline constexpr StableId kStreamError{0xf, 0x10000};
inline constexpr StableId sliceNal(std::uint64_t picture)
{
    return {0x1, 0x100 + picture};
}
inline constexpr StableId slice(std::uint64_t picture)
{
    return {0x4, picture};
}
inline constexpr StableId referencePicture(std::uint64_t picture)
{
    return {0x5, picture};
}
inline constexpr StableId shortTerm(std::uint64_t picture)
{
    return {0x6, picture};
}
inline constexpr StableId longTerm(std::uint64_t picture)
{
    return {0x7, picture};
}
inline constexpr StableId dpbEntry(std::uint64_t picture)
{
    return {0x8, picture};
}
inline constexpr StableId picture(std::uint64_t picture)
{
    return {0x9, picture};
}
inline constexpr StableId ctu(std::uint64_t picture)
{
    return {0xa, picture};
}
inline constexpr StableId rootCu(std::uint64_t picture)
{
    return {0xb, 2 * picture - 1};
}
inline constexpr StableId leafCu(std::uint64_t picture)
{
    return {0xb, 2 * picture};
}
inline constexpr StableId pu(std::uint64_t picture)
{
    return {0xc, picture};
}
inline constexpr StableId rootTu(std::uint64_t picture)
{
    return {0xd, 2 * picture - 1};
}
inline constexpr StableId leafTu(std::uint64_t picture)
{
    return {0xd, 2 * picture};
}
inline constexpr StableId motionVector(std::uint64_t picture)
{
    return {0xe, picture};
}
inline constexpr StableId sliceError(std::uint64_t picture)
{
    return {0xf, picture};
}
}  // namespace ids

inline const std::string kFingerprintA = "sha256:" + std::string(64, 'a');
inline const std::string kFingerprintB = "sha256:" + std::string(64, 'b');

// One picture's CTU, two CUs, a PU, two TUs and a motion vector, with the counts
// on its summary.
inline void addBlockStructure(StreamAnalysis& document, std::uint64_t n,
                              PictureAnalysisSummary& summary)
{
    document.ctus.push_back(CtuInfo{.id = ids::ctu(n),
                                    .parentPictureSummaryId = ids::picture(n),
                                    .sliceInfoId = ids::slice(n),
                                    .bounds = lumaRect(0, 0, 64, 64),
                                    .parseStatus = BlockParseStatus::Parsed});
    CuInfo root;
    root.id = ids::rootCu(n);
    root.parentCtuId = ids::ctu(n);
    root.bounds = lumaRect(0, 0, 64, 64);
    root.depth = 0;
    root.split = true;
    root.parseStatus = BlockParseStatus::Parsed;
    document.cus.push_back(root);
    CuInfo leaf;
    leaf.id = ids::leafCu(n);
    leaf.parentCtuId = ids::ctu(n);
    leaf.parentCuId = ids::rootCu(n);
    leaf.bounds = lumaRect(0, 0, 32, 32);
    leaf.depth = 1;
    leaf.split = false;
    leaf.predictionMode = PredictionMode::Inter;
    leaf.partitionMode = PartitionMode::Part2Nx2N;
    leaf.qp = 30;
    leaf.parseStatus = BlockParseStatus::Parsed;
    document.cus.push_back(leaf);

    PuInfo pu;
    pu.id = ids::pu(n);
    pu.parentCuId = ids::leafCu(n);
    pu.bounds = lumaRect(0, 0, 32, 32);
    pu.partitionMode = PartitionMode::Part2Nx2N;
    pu.interDirection = InterDirection::L0;
    pu.predictionMode = PredictionMode::Inter;
    pu.referencePictureL0Id = ids::referencePicture(n);
    pu.refIdxL0 = 0;
    pu.parseStatus = BlockParseStatus::Parsed;
    document.pus.push_back(pu);

    TuInfo rootTu;
    rootTu.id = ids::rootTu(n);
    rootTu.parentCuId = ids::leafCu(n);
    rootTu.bounds = lumaRect(0, 0, 32, 32);
    rootTu.depth = 0;
    rootTu.split = true;
    rootTu.cbfLuma = true;
    rootTu.parseStatus = BlockParseStatus::Parsed;
    document.tus.push_back(rootTu);
    TuInfo leafTu;
    leafTu.id = ids::leafTu(n);
    leafTu.parentCuId = ids::leafCu(n);
    leafTu.parentTuId = ids::rootTu(n);
    leafTu.bounds = lumaRect(16, 16, 16, 16);
    leafTu.depth = 1;
    leafTu.split = false;
    leafTu.qp = 30;
    leafTu.parseStatus = BlockParseStatus::Parsed;
    document.tus.push_back(leafTu);

    document.motionVectors.push_back(
        MotionVectorInfo{.id = ids::motionVector(n),
                         .parentPuId = ids::pu(n),
                         .list = ReferenceList::L0,
                         .referencePictureId = ids::referencePicture(n),
                         .mvX = -4,
                         .mvY = 8,
                         .unit = MotionVectorUnit::QuarterLumaSample,
                         .referenceIndex = 0});
    summary.ctuCount = 1;
    summary.cuCount = 2;
    summary.puCount = 1;
    summary.tuCount = 2;
}

// One picture: its slice NAL unit, slice, reference entries, summary and an error
// about its slice; with block structure when asked.
inline void addPicture(StreamAnalysis& document, std::uint64_t n, bool withBlocks)
{
    document.nalUnits.push_back(makeNalUnit(ids::sliceNal(n), NalUnitKind::Slice, 19, 96 + 24 * n));
    document.nalUnits.back().pictureId = n;

    SliceInfo slice;
    slice.id = ids::slice(n);
    slice.parentNalUnitId = ids::sliceNal(n);
    slice.pictureId = n;
    slice.poc = static_cast<std::int32_t>(n);
    slice.displayIndex = static_cast<std::int64_t>(n);
    slice.type = SliceType::P;
    slice.ppsId = 0;
    slice.sliceQp = 30;
    slice.parseStatus = ParseStatus::Parsed;
    slice.referenceStateStatus = ParseStatus::Parsed;
    slice.numRefIdxL0Active = 1;
    document.slices.push_back(slice);

    document.referencePictures.push_back(
        ReferencePictureEntry{.id = ids::referencePicture(n),
                              .parentSliceId = ids::slice(n),
                              .list = ReferenceList::L0,
                              .listIndex = 0,
                              .status = ReferenceStatus::Available});
    document.shortTermReferencePictures.push_back(ShortTermReferencePictureEntry{
        .id = ids::shortTerm(n), .parentSliceId = ids::slice(n), .entryIndex = 0});
    document.longTermReferencePictures.push_back(LongTermReferencePictureEntry{
        .id = ids::longTerm(n), .parentSliceId = ids::slice(n), .entryIndex = 0});
    document.dpbSnapshotEntries.push_back(
        DpbSnapshotEntry{.id = ids::dpbEntry(n), .parentSliceId = ids::slice(n), .slot = 0});

    PictureAnalysisSummary summary{.id = ids::picture(n),
                                   .parentStreamAnalysisId = ids::kDocument,
                                   .pictureId = n,
                                   .displayIndex = static_cast<std::int64_t>(n),
                                   .poc = static_cast<std::int32_t>(n),
                                   .pictureType = PictureType::P,
                                   .width = 1920,
                                   .height = 1080,
                                   .bitDepth = 8,
                                   .sliceCount = 1,
                                   .completeness = PictureCompleteness::Complete};
    if (withBlocks) {
        addBlockStructure(document, n, summary);
    }
    document.pictures.push_back(summary);

    AnalysisErrorInfo error;
    error.id = ids::sliceError(n);
    error.parentStreamAnalysisId = ids::kDocument;
    error.relatedObjectId = ids::slice(n);
    error.severity = 2;
    error.code = "analyzer.slice_note";
    error.component = "AnalyzerWorker";
    error.message = "slice note";
    document.errors.push_back(error);
}

// A valid analysis of `pictureCount` pictures; the first picture also carries the
// stream's SEI message.
inline StreamAnalysis makeAnalysis(std::uint64_t pictureCount, bool withBlocks,
                                   const std::string& fingerprint = kFingerprintA)
{
    StreamAnalysis document;
    document.id = ids::kDocument;
    document.compactId = 1;
    document.sourceFingerprint = fingerprint;
    document.profile = StreamProfile::Main;
    document.width = 1920;
    document.height = 1080;
    document.bitDepth = 8;
    addParameterSetNalUnits(document);
    document.nalUnits.push_back(makeNalUnit(ids::kSeiNal, NalUnitKind::PrefixSei, 39, 72));
    document.nalUnits.back().pictureId = 1;
    addParameterSets(document);

    SeiMessageInfo sei;
    sei.id = ids::kSei;
    sei.parentNalUnitId = ids::kSeiNal;
    sei.pictureId = 1;
    sei.payloadType = 5;
    sei.status = SeiStatus::Parsed;
    sei.syntaxElements = {{"uuid_iso_iec_11578", 1, "01"}};
    document.seiMessages.push_back(sei);

    for (std::uint64_t n = 1; n <= pictureCount; ++n) {
        addPicture(document, n, withBlocks);
    }

    AnalysisErrorInfo streamError;
    streamError.id = ids::kStreamError;
    streamError.parentStreamAnalysisId = ids::kDocument;
    streamError.severity = 2;
    streamError.code = "analyzer.stream_note";
    streamError.component = "AnalyzerWorker";
    streamError.message = "stream note";
    document.errors.push_back(streamError);
    return document;
}

}  // namespace vexilo::analysis::cachetest
