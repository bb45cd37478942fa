#include "vexilo/media/QualityMetrics.h"

#include "CheckedArithmetic.h"
#include "QualityMetricsDetail.h"
#include "SampleSumKernels.h"
#include "WindowedSsim.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vexilo::media {
namespace {

using domain::VideoFrame;
using domain::VideoPlane;

constexpr std::array kStatusNames{
    std::string_view{"available"},       std::string_view{"backend_unavailable"},
    std::string_view{"no_reference"},    std::string_view{"missing_reference_frame"},
    std::string_view{"missing_encoded_frame"}, std::string_view{"format_mismatch"},
    std::string_view{"unsupported_layout"},
};
constexpr std::string_view kComputeErrorName = "compute_error";

constexpr std::string_view kUnsupportedBitDepth = "Unsupported frame bit depth";
constexpr std::string_view kPlaneEmpty = "Plane has no samples";
constexpr std::string_view kRegionOutsidePlane = "Plane metric region is outside the plane bounds";
constexpr std::string_view kRegionStorageTooSmall = "Plane storage is not large enough for regional metrics";
constexpr std::string_view kCannotAggregate = "Plane metrics cannot be aggregated";

constexpr std::int32_t kMinBitDepth = 1;
constexpr std::int32_t kMaxBitDepth = 16;
// The single-window SSIM of areas too small for the windowed index.
constexpr double kSsimK1 = 0.01;
constexpr double kSsimK2 = 0.03;

bool isSupportedSampleSize(std::int32_t bytesPerSample) {
    return bytesPerSample == 1 || bytesPerSample == 2;
}

bool isSupportedBitDepth(std::int32_t bitDepth) {
    return bitDepth >= kMinBitDepth && bitDepth <= kMaxBitDepth;
}

double peakValue(std::int32_t bitDepth) {
    return std::ldexp(1.0, bitDepth) - 1.0;
}

double psnrFromMse(double mse, double peak) {
    if (mse == 0.0) {
        return std::numeric_limits<double>::infinity();
    }
    return 10.0 * std::log10(peak * peak / mse);
}

struct PlaneTriple {
    const VideoPlane* y = nullptr;
    const VideoPlane* u = nullptr;
    const VideoPlane* v = nullptr;

    [[nodiscard]] bool complete() const { return y != nullptr && u != nullptr && v != nullptr; }
};

PlaneTriple findYuvPlanes(const VideoFrame& frame) {
    return PlaneTriple{findPlane(frame, 0), findPlane(frame, 1), findPlane(frame, 2)};
}

PlaneQualityMetrics aggregatePlanes(const PlaneQualityMetrics& y, const PlaneQualityMetrics& u,
                                    const PlaneQualityMetrics& v, std::int32_t bitDepth) {
    for (const PlaneQualityMetrics* plane : {&y, &u, &v}) {
        if (plane->status != QualityMetricStatus::Available) {
            return makePlaneFailure(plane->status, plane->message);
        }
    }
    const std::uint64_t total = y.sampleCount + u.sampleCount + v.sampleCount;
    if (total == 0 || !y.mse || !u.mse || !v.mse) {
        return makePlaneFailure(QualityMetricStatus::ComputeError, kCannotAggregate);
    }
    const auto weight = [](const PlaneQualityMetrics& plane) { return static_cast<double>(plane.sampleCount); };
    const double count = static_cast<double>(total);
    PlaneQualityMetrics all;
    all.status = QualityMetricStatus::Available;
    all.message = std::string(kAvailable);
    all.sampleCount = total;
    all.mse = (*y.mse * weight(y) + *u.mse * weight(u) + *v.mse * weight(v)) / count;
    all.psnr = psnrFromMse(*all.mse, peakValue(bitDepth));
    if (y.ssim && u.ssim && v.ssim) {
        all.ssim = (*y.ssim * weight(y) + *u.ssim * weight(u) + *v.ssim * weight(v)) / count;
    }
    return all;
}

using Rectangle = PlaneArea;

// The chroma span that covers luma span [start, start + length) of a luma extent,
// at least one chroma sample wide.
std::pair<std::int32_t, std::int32_t> chromaSpan(std::int32_t start, std::int32_t length, std::int32_t lumaExtent,
                                                 std::int32_t chromaExtent) {
    const auto scale = [&](std::int64_t luma) {
        return static_cast<std::int32_t>(static_cast<std::int64_t>(chromaExtent) * luma / lumaExtent);
    };
    const std::int32_t first = scale(start);
    std::int32_t last = scale(static_cast<std::int64_t>(start) + length);
    if (last <= first) {
        last = std::min(first + 1, chromaExtent);
    }
    return {first, last - first};
}

Rectangle chromaRectangle(const Rectangle& luma, const VideoPlane& chromaPlane, std::int32_t frameWidth,
                          std::int32_t frameHeight) {
    const auto [x, width] = chromaSpan(luma.x, luma.width, frameWidth, chromaPlane.width);
    const auto [y, height] = chromaSpan(luma.y, luma.height, frameHeight, chromaPlane.height);
    return Rectangle{x, y, width, height};
}

PlaneQualityMetrics regionMetric(const VideoPlane& reference, const VideoPlane& encoded, std::int32_t bitDepth,
                                 const Rectangle& area) {
    return computeRegionPlaneMetric(reference, encoded, bitDepth, area.x, area.y, area.width, area.height);
}

bool rowsFitStorage(const VideoPlane& plane) {
    const auto rowBytes = checkedMultiply(static_cast<std::uint64_t>(plane.width),
                                          static_cast<std::uint64_t>(plane.bytesPerSample));
    if (!rowBytes || plane.stride < 0 || static_cast<std::uint64_t>(plane.stride) < *rowBytes) {
        return false;
    }
    const auto planeBytes =
        checkedMultiply(static_cast<std::uint64_t>(plane.height), static_cast<std::uint64_t>(plane.stride));
    return planeBytes && plane.samples.size() >= *planeBytes;
}

// SSIM is the windowed index wherever the area holds a whole window and the rows can be
// walked; smaller areas keep the single-window value of their sums.
void replaceSsimByWindowedIndex(PlaneQualityMetrics& metrics, const VideoPlane& reference, const VideoPlane& encoded,
                                std::int32_t bitDepth, const Rectangle& area) {
    if (!rowsFitStorage(reference) || !rowsFitStorage(encoded)) {
        return;
    }
    if (const std::optional<double> ssim = windowedSsim(reference, encoded, bitDepth, area)) {
        metrics.ssim = ssim;
    }
}

// A luma plane that does not cover the frame's own size would make the block walk
// describe storage that is not there; such frames get no blocks at all.
bool lumaPlaneCoversFrame(const VideoFrame& frame, const VideoPlane& luma) {
    return luma.width == frame.width && luma.height == frame.height && isSupportedSampleSize(luma.bytesPerSample) &&
           rowsFitStorage(luma);
}

bool regionalInputsUsable(const VideoFrame& reference, const VideoFrame& encoded, int blockSize,
                          const PlaneTriple& referencePlanes, const PlaneTriple& encodedPlanes) {
    return blockSize >= 1 && reference.width >= 1 && reference.height >= 1 && sameFrameFormat(reference, encoded) &&
           referencePlanes.complete() && encodedPlanes.complete() &&
           lumaPlaneCoversFrame(reference, *referencePlanes.y) && lumaPlaneCoversFrame(encoded, *encodedPlanes.y);
}

RegionQualityMetrics measureBlock(const Rectangle& block, const VideoFrame& reference,
                                  const PlaneTriple& referencePlanes, const PlaneTriple& encodedPlanes) {
    const std::int32_t bitDepth = reference.bitDepth;
    RegionQualityMetrics region;
    region.x = block.x;
    region.y = block.y;
    region.width = block.width;
    region.height = block.height;
    region.yMetrics = regionMetric(*referencePlanes.y, *encodedPlanes.y, bitDepth, block);
    region.uMetrics = regionMetric(*referencePlanes.u, *encodedPlanes.u, bitDepth,
                                   chromaRectangle(block, *referencePlanes.u, reference.width, reference.height));
    region.vMetrics = regionMetric(*referencePlanes.v, *encodedPlanes.v, bitDepth,
                                   chromaRectangle(block, *referencePlanes.v, reference.width, reference.height));
    region.allMetrics = aggregatePlanes(region.yMetrics, region.uMetrics, region.vMetrics, bitDepth);
    return region;
}

}  // namespace

const VideoPlane* findPlane(const VideoFrame& frame, std::uint8_t planeIndex) {
    const auto found = std::find_if(frame.planes.begin(), frame.planes.end(),
                                    [planeIndex](const VideoPlane& plane) { return plane.planeIndex == planeIndex; });
    return found == frame.planes.end() ? nullptr : &*found;
}

bool sameFrameFormat(const VideoFrame& a, const VideoFrame& b) {
    return a.width == b.width && a.height == b.height && a.bitDepth == b.bitDepth && a.chromaFormat == b.chromaFormat;
}

std::string_view qualityMetricStatusName(QualityMetricStatus status) noexcept {
    const auto value = static_cast<std::size_t>(status);
    return value < kStatusNames.size() ? kStatusNames[value] : kComputeErrorName;
}

PlaneQualityMetrics makePlaneFailure(QualityMetricStatus status, std::string_view message) {
    PlaneQualityMetrics failure;
    failure.status = status;
    failure.message = std::string(message);
    return failure;
}

VmafQualityMetrics makeVmafFailure(QualityMetricStatus status, std::string_view message) {
    VmafQualityMetrics failure;
    failure.status = status;
    failure.message = std::string(message);
    return failure;
}

FrameQualityMetrics makeFailedFrameQualityMetrics(QualityMetricStatus status, std::string_view message) {
    FrameQualityMetrics failed;
    failed.y = makePlaneFailure(status, message);
    failed.u = failed.y;
    failed.v = failed.y;
    failed.all = failed.y;
    failed.vmaf = makeVmafFailure(status, message);
    return failed;
}

PlaneQualityMetrics finishPlaneMetric(const SampleSums& sums, std::uint64_t count, std::int32_t bitDepth) {
    const double n = static_cast<double>(count);
    const double peak = peakValue(bitDepth);
    PlaneQualityMetrics metrics;
    metrics.status = QualityMetricStatus::Available;
    metrics.message = std::string(kAvailable);
    metrics.sampleCount = count;
    metrics.mse = sums.squaredDifference / n;
    metrics.psnr = psnrFromMse(*metrics.mse, peak);

    const double meanX = sums.reference / n;
    const double meanY = sums.encoded / n;
    const double varianceX = std::max(sums.referenceSquared / n - meanX * meanX, 0.0);
    const double varianceY = std::max(sums.encodedSquared / n - meanY * meanY, 0.0);
    const double covariance = sums.cross / n - meanX * meanY;
    const double c1 = (kSsimK1 * peak) * (kSsimK1 * peak);
    const double c2 = (kSsimK2 * peak) * (kSsimK2 * peak);
    const double denominator = (meanX * meanX + meanY * meanY + c1) * (varianceX + varianceY + c2);
    if (denominator != 0.0) {
        metrics.ssim = (2.0 * meanX * meanY + c1) * (2.0 * covariance + c2) / denominator;
    }
    return metrics;
}

PlaneQualityMetrics computePlaneQualityMetrics(const VideoPlane& reference, const VideoPlane& encoded,
                                               std::int32_t bitDepth) {
    if (!isSupportedSampleSize(reference.bytesPerSample) || !isSupportedSampleSize(encoded.bytesPerSample)) {
        return makePlaneFailure(QualityMetricStatus::UnsupportedLayout, kUnsupportedSampleSize);
    }
    if (reference.width != encoded.width || reference.height != encoded.height ||
        reference.bytesPerSample != encoded.bytesPerSample || reference.stride != encoded.stride ||
        reference.samples.size() != encoded.samples.size()) {
        return makePlaneFailure(QualityMetricStatus::FormatMismatch, kPlaneGeometryMismatch);
    }
    if (!isSupportedBitDepth(bitDepth)) {
        return makePlaneFailure(QualityMetricStatus::UnsupportedLayout, kUnsupportedBitDepth);
    }
    const std::size_t count = reference.samples.size() / static_cast<std::size_t>(reference.bytesPerSample);
    if (count == 0) {
        return makePlaneFailure(QualityMetricStatus::ComputeError, kPlaneEmpty);
    }
    SampleSums sums;
    accumulateSampleRun(reference.samples.data(), encoded.samples.data(), count, reference.bytesPerSample, sums);
    PlaneQualityMetrics metrics = finishPlaneMetric(sums, count, bitDepth);
    replaceSsimByWindowedIndex(metrics, reference, encoded, bitDepth, Rectangle{0, 0, reference.width, reference.height});
    return metrics;
}

PlaneQualityMetrics computeRegionPlaneMetric(const VideoPlane& reference, const VideoPlane& encoded,
                                             std::int32_t bitDepth, std::int32_t x, std::int32_t y,
                                             std::int32_t width, std::int32_t height) {
    if (!isSupportedSampleSize(reference.bytesPerSample) || !isSupportedSampleSize(encoded.bytesPerSample)) {
        return makePlaneFailure(QualityMetricStatus::UnsupportedLayout, kUnsupportedSampleSize);
    }
    if (reference.width != encoded.width || reference.height != encoded.height ||
        reference.bytesPerSample != encoded.bytesPerSample) {
        return makePlaneFailure(QualityMetricStatus::FormatMismatch, kPlaneGeometryMismatch);
    }
    if (!isSupportedBitDepth(bitDepth)) {
        return makePlaneFailure(QualityMetricStatus::UnsupportedLayout, kUnsupportedBitDepth);
    }
    if (x < 0 || y < 0 || width < 1 || height < 1 || std::int64_t{x} + width > reference.width ||
        std::int64_t{y} + height > reference.height) {
        return makePlaneFailure(QualityMetricStatus::ComputeError, kRegionOutsidePlane);
    }
    if (!rowsFitStorage(reference) || !rowsFitStorage(encoded)) {
        return makePlaneFailure(QualityMetricStatus::UnsupportedLayout, kRegionStorageTooSmall);
    }
    const auto bytesPerSample = static_cast<std::size_t>(reference.bytesPerSample);
    const auto rowOffset = [&](const VideoPlane& plane, std::int32_t row) {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(plane.stride) +
               static_cast<std::size_t>(x) * bytesPerSample;
    };
    SampleSums sums;
    for (std::int32_t row = y; row < y + height; ++row) {
        accumulateSampleRun(reference.samples.data() + rowOffset(reference, row),
                            encoded.samples.data() + rowOffset(encoded, row), static_cast<std::size_t>(width),
                            reference.bytesPerSample, sums);
    }
    const auto count = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    PlaneQualityMetrics metrics = finishPlaneMetric(sums, count, bitDepth);
    replaceSsimByWindowedIndex(metrics, reference, encoded, bitDepth, Rectangle{x, y, width, height});
    return metrics;
}

FrameQualityMetrics computeFrameQualityMetrics(const VideoFrame& reference, const VideoFrame& encoded) {
    if (reference.planes.empty()) {
        return makeFailedFrameQualityMetrics(QualityMetricStatus::MissingReferenceFrame, kReferenceHasNoPlanes);
    }
    if (encoded.planes.empty()) {
        return makeFailedFrameQualityMetrics(QualityMetricStatus::MissingEncodedFrame, kEncodedHasNoPlanes);
    }
    if (!sameFrameFormat(reference, encoded)) {
        return makeFailedFrameQualityMetrics(QualityMetricStatus::FormatMismatch, kFrameFormatMismatch);
    }
    const PlaneTriple referencePlanes = findYuvPlanes(reference);
    if (!referencePlanes.complete()) {
        return makeFailedFrameQualityMetrics(QualityMetricStatus::MissingReferenceFrame, kReferenceMissingPlane);
    }
    const PlaneTriple encodedPlanes = findYuvPlanes(encoded);
    if (!encodedPlanes.complete()) {
        return makeFailedFrameQualityMetrics(QualityMetricStatus::MissingEncodedFrame, kEncodedMissingPlane);
    }
    const std::int32_t bitDepth = reference.bitDepth;
    FrameQualityMetrics metrics;
    metrics.y = computePlaneQualityMetrics(*referencePlanes.y, *encodedPlanes.y, bitDepth);
    metrics.u = computePlaneQualityMetrics(*referencePlanes.u, *encodedPlanes.u, bitDepth);
    metrics.v = computePlaneQualityMetrics(*referencePlanes.v, *encodedPlanes.v, bitDepth);
    metrics.all = aggregatePlanes(metrics.y, metrics.u, metrics.v, bitDepth);
    return metrics;
}

std::vector<RegionQualityMetrics> computeRegionalQualityMetrics(const VideoFrame& reference,
                                                                const VideoFrame& encoded, int blockSize) {
    const PlaneTriple referencePlanes = findYuvPlanes(reference);
    const PlaneTriple encodedPlanes = findYuvPlanes(encoded);
    std::vector<RegionQualityMetrics> regions;
    if (!regionalInputsUsable(reference, encoded, blockSize, referencePlanes, encodedPlanes)) {
        return regions;
    }
    const std::int32_t frameWidth = reference.width;
    const std::int32_t frameHeight = reference.height;
    const auto blocksAcross = (static_cast<std::size_t>(frameWidth) + static_cast<std::size_t>(blockSize) - 1) /
                              static_cast<std::size_t>(blockSize);
    const auto blocksDown = (static_cast<std::size_t>(frameHeight) + static_cast<std::size_t>(blockSize) - 1) /
                            static_cast<std::size_t>(blockSize);
    regions.reserve(blocksAcross * blocksDown);
    for (std::int64_t top = 0; top < frameHeight; top += blockSize) {
        for (std::int64_t left = 0; left < frameWidth; left += blockSize) {
            const Rectangle block{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
                                  static_cast<std::int32_t>(std::min<std::int64_t>(frameWidth - left, blockSize)),
                                  static_cast<std::int32_t>(std::min<std::int64_t>(frameHeight - top, blockSize))};
            regions.push_back(measureBlock(block, reference, referencePlanes, encodedPlanes));
        }
    }
    return regions;
}

}  // namespace vexilo::media
