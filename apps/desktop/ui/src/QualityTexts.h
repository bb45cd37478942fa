#pragma once

#include "vexilo/media/QualityMetrics.h"

#include <QString>

#include <optional>

namespace vexilo {

// The texts the metric summary shows for quality results.
[[nodiscard]] QString qualityStatusText(media::QualityMetricStatus status);
[[nodiscard]] QString planeQualityText(const QString& planeLabel, const media::PlaneQualityMetrics& plane);
[[nodiscard]] QString vmafQualityText(const media::VmafQualityMetrics& vmaf);
[[nodiscard]] QString sideQualityText(const QString& sideLabel, bool hasPicture,
                                      const std::optional<media::FrameQualityMetrics>& metrics);
[[nodiscard]] QString winnerSummaryText(const std::optional<media::FrameQualityMetrics>& metricsA,
                                        const std::optional<media::FrameQualityMetrics>& metricsB);

}  // namespace vexilo
