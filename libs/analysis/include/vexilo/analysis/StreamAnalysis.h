#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/records/CodingBlockRecords.h"
#include "vexilo/analysis/records/NalParameterSetRecords.h"
#include "vexilo/analysis/records/PictureReferenceRecords.h"
#include "vexilo/analysis/records/SeiSliceErrorRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexilo::analysis {

// The schema version this system writes and reads.
inline constexpr std::uint32_t kAnalysisSchemaVersion = 1;

// The most records one collection of a document may hold.
inline constexpr std::uint64_t kMaxRecordsPerCollection = 100'000'000;

// One HEVC stream described object by object. Every record names its parent by
// StableId; the document is a plain value that owns all its data.
struct StreamAnalysis {
    StableId id{};
    std::uint32_t schemaVersion = kAnalysisSchemaVersion;
    std::uint32_t minimumReaderVersion = kAnalysisSchemaVersion;
    std::optional<std::uint64_t> compactId{};
    std::string sourceFingerprint{};  // "sha256:" and 64 lowercase hex digits
    StreamProfile profile = StreamProfile::Undetermined;
    std::optional<std::uint32_t> width{};
    std::optional<std::uint32_t> height{};
    std::optional<std::uint8_t> bitDepth{};
    std::vector<NalUnitInfo> nalUnits{};
    std::vector<ParameterSetInfo> parameterSets{};
    std::vector<SeiMessageInfo> seiMessages{};
    std::vector<SliceInfo> slices{};
    std::vector<ReferencePictureEntry> referencePictures{};
    std::vector<PictureAnalysisSummary> pictures{};
    std::vector<CtuInfo> ctus{};
    std::vector<CuInfo> cus{};
    std::vector<PuInfo> pus{};
    std::vector<TuInfo> tus{};
    std::vector<MotionVectorInfo> motionVectors{};
    std::vector<AnalysisErrorInfo> errors{};
    std::vector<ShortTermReferencePictureEntry> shortTermReferencePictures{};
    std::vector<LongTermReferencePictureEntry> longTermReferencePictures{};
    std::vector<DpbSnapshotEntry> dpbSnapshotEntries{};

    friend bool operator==(const StreamAnalysis&, const StreamAnalysis&) = default;
};

}  // namespace vexilo::analysis
