#pragma once

#include "vexilo/domain/VideoFrame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexilo::media {

enum class QualityMetricStatus : std::uint8_t {
    Available = 0,
    BackendUnavailable = 1,
    NoReference = 2,
    MissingReferenceFrame = 3,
    MissingEncodedFrame = 4,
    FormatMismatch = 5,
    UnsupportedLayout = 6,
    ComputeError = 7,
};

// Machine name of a status, as models and the AI evidence print it; any unknown value
// names as "compute_error".
[[nodiscard]] std::string_view qualityMetricStatusName(QualityMetricStatus status) noexcept;

// Metrics of one plane, of the sample-weighted "All" aggregate, or of one block of either.
struct PlaneQualityMetrics {
    QualityMetricStatus status = QualityMetricStatus::ComputeError;
    std::optional<double> mse;
    std::optional<double> psnr;  // dB; +infinity for identical samples
    std::optional<double> ssim;
    std::uint64_t sampleCount = 0;
    std::string message;
};

struct VmafFeatureScore {
    std::string name;
    std::optional<double> score;
    std::string message;
};

// Filled by the VMAF backend; the metrics engine only creates it (default or failed).
struct VmafQualityMetrics {
    QualityMetricStatus status = QualityMetricStatus::ComputeError;
    std::optional<double> score;
    std::vector<VmafFeatureScore> features;
    std::string modelVersion;
    std::string backendVersion;
    std::string message;
};

struct FrameQualityMetrics {
    PlaneQualityMetrics y;
    PlaneQualityMetrics u;
    PlaneQualityMetrics v;
    PlaneQualityMetrics all;
    VmafQualityMetrics vmaf;
};

// One heat-map block: its rectangle in luma samples and the metrics of that area.
struct RegionQualityMetrics {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    PlaneQualityMetrics yMetrics;
    PlaneQualityMetrics uMetrics;
    PlaneQualityMetrics vMetrics;
    PlaneQualityMetrics allMetrics;
};

// Side of the square heat-map blocks, in luma samples.
inline constexpr int kQualityRegionBlockSize = 64;

// `reference` is the original, `encoded` the decoded picture measured against it.
[[nodiscard]] FrameQualityMetrics computeFrameQualityMetrics(const domain::VideoFrame& reference,
                                                             const domain::VideoFrame& encoded);

[[nodiscard]] std::vector<RegionQualityMetrics> computeRegionalQualityMetrics(const domain::VideoFrame& reference,
                                                                              const domain::VideoFrame& encoded,
                                                                              int blockSize);

// Every record of the result, VMAF included, carries `status` and `message`.
[[nodiscard]] FrameQualityMetrics makeFailedFrameQualityMetrics(QualityMetricStatus status, std::string_view message);

}  // namespace vexilo::media
