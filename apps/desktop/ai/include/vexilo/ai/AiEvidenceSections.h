#pragma once

// The body of the evidence pack: shared formats and the four evidence sections. Each
// section appends its lines to the pack's line list and reads only what it is given.

#include "vexilo/ai/AiEvidenceSnapshot.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace vexilo::ai {

// Picture id and its byte total, ascending by picture id: an ordered map kept flat.
using PictureByteSizes = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

[[nodiscard]] QString formatEvidenceNumber(std::optional<double> value, int decimals);
[[nodiscard]] QString formatOptionalCount(std::optional<std::int64_t> value);
[[nodiscard]] QString formatOptionalCount(std::optional<std::uint64_t> value);
[[nodiscard]] QString formatOptionalCount(std::optional<std::int32_t> value);
[[nodiscard]] QString formatOptionalCount(std::optional<std::uint32_t> value);
[[nodiscard]] QString formatEvidenceFileName(const QString& path);
[[nodiscard]] QString formatPictureEvidence(const domain::PictureInfo& picture);
[[nodiscard]] QString formatPlaneQualityEvidence(const media::PlaneQualityMetrics& plane);
[[nodiscard]] QString formatFrameQualityEvidence(const std::optional<media::FrameQualityMetrics>& metrics);
[[nodiscard]] QString formatRegionEvidence(const media::RegionQualityMetrics& region);
[[nodiscard]] QString formatComparePairEvidence(const AiEvidenceComparePair& pair);
[[nodiscard]] QString formatReferenceYuvEvidence(const domain::ReferenceYuvSource& source);
[[nodiscard]] QString sliceQpSummary(const std::vector<analysis::SliceInfo>& slices);

[[nodiscard]] PictureByteSizes pictureByteSizes(const analysis::StreamAnalysis& document);
[[nodiscard]] std::vector<media::RegionQualityMetrics> worstRegions(std::vector<media::RegionQualityMetrics> regions);

void appendPictureTypeDistribution(QStringList& lines, const std::vector<domain::PictureInfo>& pictures);
void appendSelectedPictureEvidence(QStringList& lines, const AiEvidenceSnapshot& snapshot,
                                   const analysis::StreamAnalysis* document);
void appendFrameSizeEvidence(QStringList& lines, const AiEvidenceSnapshot& snapshot,
                             const analysis::StreamAnalysis* document);
void appendQualityDropEvidence(QStringList& lines, const AiEvidenceSnapshot& snapshot);
void appendAbQualityEvidence(QStringList& lines, const AiEvidenceSnapshot& snapshot);

}  // namespace vexilo::ai
