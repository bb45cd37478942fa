#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/ReferenceYuvSource.h"
#include "vexilo/domain/StreamInfo.h"
#include "vexilo/media/QualityMetrics.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vexilo::ai {

// The evidence's copy of one row of the compare-pair table, member for member.
struct AiEvidenceComparePair {
    std::int64_t frameIndex = 0;
    std::optional<std::int64_t> referenceFrameIndex;
    std::optional<domain::PictureId> pictureIdA;
    std::optional<domain::PictureId> pictureIdB;
    std::optional<std::int64_t> displayIndexA;
    std::optional<std::int64_t> displayIndexB;
    std::optional<std::int32_t> pocA;
    std::optional<std::int32_t> pocB;
    std::int32_t pictureTypeA = 0;  // 0 unknown, 1 I, 2 P, 3 B
    std::int32_t pictureTypeB = 0;
    QString resolutionText;
    QString matchText;
    std::optional<media::FrameQualityMetrics> metricsA;
    std::optional<media::FrameQualityMetrics> metricsB;
};

// One measured frame pair as the evidence sees it; regions only for the targeted frame.
struct AiEvidenceQualityPair {
    std::int64_t frameIndex = 0;
    std::optional<domain::PictureId> pictureIdA;
    std::optional<domain::PictureId> pictureIdB;
    std::optional<media::FrameQualityMetrics> metricsA;
    std::optional<media::FrameQualityMetrics> metricsB;
    std::vector<media::RegionQualityMetrics> regionsA;
    std::vector<media::RegionQualityMetrics> regionsB;
};

// The size the main window gives the evidence text, in UTF-16 code units.
inline constexpr std::uint64_t kAiEvidenceContextCharacterLimit = 12000;

// What is loaded, as the main window saw it when it refreshed the evidence. A default
// snapshot is valid and renders the pack in which everything is unavailable.
struct AiEvidenceSnapshot {
    QString statusText;
    std::optional<domain::StreamInfo> streamInfo;
    std::vector<domain::PictureInfo> pictures;
    std::optional<domain::PictureId> selectedPictureId;
    // The documents the window holds, shared, never copied; null when none is loaded.
    std::shared_ptr<const analysis::StreamAnalysis> streamAnalysis;
    std::shared_ptr<const analysis::StreamAnalysis> pictureAnalysis;  // only when it belongs to the selection
    std::optional<domain::PictureId> pictureAnalysisPictureId;
    std::optional<domain::ReferenceYuvSource> referenceYuv;
    std::uint64_t comparePairCount = 0;
    std::optional<std::int64_t> currentCompareFrameIndex;
    std::vector<AiEvidenceComparePair> sampledComparePairs;
    std::vector<AiEvidenceQualityPair> qualityPairResults;  // ascending frame index
    std::uint64_t contextCharacterLimit = kAiEvidenceContextCharacterLimit;  // 0: no limit
};

}  // namespace vexilo::ai
