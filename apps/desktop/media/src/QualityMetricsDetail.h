#pragma once

#include "vexilo/media/QualityMetrics.h"

#include <cstdint>
#include <string_view>

// The building blocks of the metrics engine, shared inside the media module (the VMAF
// backend makes its failure records with them) and with its tests.
namespace vexilo::media {

// Texts that the metrics engine and the VMAF backend report alike.
inline constexpr std::string_view kAvailable = "available";
inline constexpr std::string_view kUnsupportedSampleSize = "Only 8-bit and little-endian 16-bit planar samples are supported";
inline constexpr std::string_view kPlaneGeometryMismatch = "Reference and encoded plane geometry do not match";
inline constexpr std::string_view kReferenceHasNoPlanes = "Reference frame has no YUV planes";
inline constexpr std::string_view kEncodedHasNoPlanes = "Encoded frame has no YUV planes";
inline constexpr std::string_view kFrameFormatMismatch = "Reference and encoded frame format do not match";
inline constexpr std::string_view kReferenceMissingPlane = "Reference frame is missing one or more YUV planes";
inline constexpr std::string_view kEncodedMissingPlane = "Encoded frame is missing one or more YUV planes";

// The first plane with `planeIndex` in list order, or null.
[[nodiscard]] const domain::VideoPlane* findPlane(const domain::VideoFrame& frame, std::uint8_t planeIndex);

// Same size, bit depth and chroma format.
[[nodiscard]] bool sameFrameFormat(const domain::VideoFrame& a, const domain::VideoFrame& b);

[[nodiscard]] PlaneQualityMetrics makePlaneFailure(QualityMetricStatus status, std::string_view message);
[[nodiscard]] VmafQualityMetrics makeVmafFailure(QualityMetricStatus status, std::string_view message);

[[nodiscard]] PlaneQualityMetrics computePlaneQualityMetrics(const domain::VideoPlane& reference,
                                                             const domain::VideoPlane& encoded, std::int32_t bitDepth);
[[nodiscard]] PlaneQualityMetrics computeRegionPlaneMetric(const domain::VideoPlane& reference,
                                                           const domain::VideoPlane& encoded, std::int32_t bitDepth,
                                                           std::int32_t x, std::int32_t y, std::int32_t width,
                                                           std::int32_t height);

// The six running sums of one set of sample pairs (x reference, y encoded).
struct SampleSums {
    double squaredDifference = 0.0;  // Σ(x − y)²
    double reference = 0.0;          // Σx
    double encoded = 0.0;            // Σy
    double referenceSquared = 0.0;   // Σx²
    double encodedSquared = 0.0;     // Σy²
    double cross = 0.0;              // Σxy
};

[[nodiscard]] PlaneQualityMetrics finishPlaneMetric(const SampleSums& sums, std::uint64_t count,
                                                    std::int32_t bitDepth);

}  // namespace vexilo::media
