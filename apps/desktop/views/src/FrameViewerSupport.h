#pragma once

#include "vexilo/views/FrameViewer.h"

#include <QString>

#include <optional>

namespace vexilo {

// "Y", "U", "V", "All" and "PSNR", "SSIM", "MSE", as the legend and the heat-map summary say them.
[[nodiscard]] QString qualityMetricPlaneName(FrameViewer::QualityMetricPlane plane);
[[nodiscard]] QString qualityMetricKindName(FrameViewer::QualityMetricKind kind);

// The metric a heat-map cell is coloured by: absent unless its plane record is available.
[[nodiscard]] std::optional<double> chosenHeatmapValue(const media::RegionQualityMetrics& cell,
                                                       FrameViewer::QualityMetricKind kind,
                                                       FrameViewer::QualityMetricPlane plane);

}  // namespace vexilo
