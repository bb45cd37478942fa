#include "vexilo/media/VmafBackend.h"

#include "QualityMetricsDetail.h"
#include "VmafBackendDetail.h"
#include "vexilo/media/VmafSequence.h"

#include <cstring>

namespace vexilo::media {
namespace {

using domain::ChromaFormat;
using domain::VideoFrame;
using domain::VideoPlane;
using vmaf_abi::VmafPicture;
using vmaf_abi::VmafPixelFormat;

constexpr std::string_view kUnsupportedBitDepth = "VMAF supports 8-bit to 16-bit planar YUV samples";
constexpr std::string_view kStrideTooSmall = "Plane row stride is smaller than the visible row size";
constexpr std::string_view kStorageTooSmall = "Plane storage is not large enough for VMAF";
constexpr std::string_view kUnsupportedChroma = "VMAF supports planar YUV 4:2:0, 4:2:2, and 4:4:4";
constexpr std::string_view kBackendUnavailablePrefix = "Backend unavailable: ";
constexpr std::string_view kRuntimeNotAvailable = "libvmaf runtime is not available";
constexpr std::string_view kPictureTooSmall = "VMAF needs pictures larger than 16 samples in both dimensions";
constexpr std::string_view kUnexpectedFailure = "VMAF computation failed unexpectedly";

constexpr std::int32_t kMinVmafBitDepth = 8;
constexpr std::int32_t kMaxVmafBitDepth = 16;
constexpr std::uint8_t kVmafPlaneCount = 3;
// libvmaf's ADM feature reads outside pictures this small (it crashes), though HEVC allows them.
constexpr std::int32_t kLargestRefusedPictureSide = 16;
constexpr std::int64_t kSinglePairKey = 0;

enum class PlaneFault { None, Geometry, Stride, Storage };

std::int64_t visibleRowBytes(const VideoPlane& plane) {
    return static_cast<std::int64_t>(plane.width) * plane.bytesPerSample;
}

bool holdsRows(const VideoPlane& plane) {
    std::int64_t required = 0;
    if (plane.height < 0 || plane.stride < 0 || __builtin_mul_overflow(plane.stride, plane.height, &required)) {
        return false;
    }
    return static_cast<std::uint64_t>(required) <= plane.samples.size();
}

bool sameGeometry(const VideoPlane& a, const VideoPlane& b) {
    return a.width == b.width && a.height == b.height && a.bytesPerSample == b.bytesPerSample;
}

std::optional<VmafQualityMetrics> failure(QualityMetricStatus status, std::string_view message) {
    return makeVmafFailure(status, message);
}

std::optional<VmafQualityMetrics> planeFaultFailure(PlaneFault fault) {
    switch (fault) {
    case PlaneFault::Geometry:
        return failure(QualityMetricStatus::FormatMismatch, kPlaneGeometryMismatch);
    case PlaneFault::Stride:
        return failure(QualityMetricStatus::UnsupportedLayout, kStrideTooSmall);
    case PlaneFault::Storage:
        return failure(QualityMetricStatus::UnsupportedLayout, kStorageTooSmall);
    case PlaneFault::None:
        break;
    }
    return std::nullopt;
}

std::optional<VmafPixelFormat> vmafPixelFormat(ChromaFormat chroma) {
    switch (chroma) {
    case ChromaFormat::Yuv420:
        return vmaf_abi::VmafPixelFormatYuv420P;
    case ChromaFormat::Yuv422:
        return vmaf_abi::VmafPixelFormatYuv422P;
    case ChromaFormat::Yuv444:
        return vmaf_abi::VmafPixelFormatYuv444P;
    case ChromaFormat::None:
        break;
    }
    return std::nullopt;
}

bool copyPlaneIntoVmafPicture(const VideoPlane& plane, VmafPicture& picture, std::size_t component) {
    const std::int64_t rowBytes = visibleRowBytes(plane);
    if (plane.width < 1 || plane.height < 1 || picture.w[component] != static_cast<unsigned>(plane.width) ||
        picture.h[component] != static_cast<unsigned>(plane.height) || picture.stride[component] < rowBytes ||
        picture.data[component] == nullptr || plane.stride < rowBytes || !holdsRows(plane)) {
        return false;
    }
    auto* target = static_cast<std::uint8_t*>(picture.data[component]);
    const std::uint8_t* source = plane.samples.data();
    for (std::int64_t row = 0; row < plane.height; ++row) {
        std::memcpy(target + row * picture.stride[component], source + row * plane.stride,
                    static_cast<std::size_t>(rowBytes));
    }
    return true;
}

bool copyPlanesIntoVmafPicture(const VideoFrame& frame, VmafPicture& picture) {
    for (std::uint8_t index = 0; index < kVmafPlaneCount; ++index) {
        const VideoPlane* plane = findPlane(frame, index);
        if (plane == nullptr || !copyPlaneIntoVmafPicture(*plane, picture, index)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string vmafErrorText(std::string_view function, int code) {
    return std::string(function) + " failed with code " + std::to_string(code);
}

VmafQualityMetrics vmafComputeError(std::string_view function, int code) {
    return makeVmafFailure(QualityMetricStatus::ComputeError, vmafErrorText(function, code));
}

VmafQualityMetrics vmafBackendUnavailable(std::string_view reason) {
    return makeVmafFailure(QualityMetricStatus::BackendUnavailable,
                           std::string(kBackendUnavailablePrefix) + std::string(reason));
}

std::optional<VmafQualityMetrics> checkVmafFrameFormat(const VideoFrame& reference, const VideoFrame& encoded) {
    if (reference.planes.empty()) {
        return failure(QualityMetricStatus::MissingReferenceFrame, kReferenceHasNoPlanes);
    }
    if (encoded.planes.empty()) {
        return failure(QualityMetricStatus::MissingEncodedFrame, kEncodedHasNoPlanes);
    }
    if (!sameFrameFormat(reference, encoded)) {
        return failure(QualityMetricStatus::FormatMismatch, kFrameFormatMismatch);
    }
    if (reference.bitDepth < kMinVmafBitDepth || reference.bitDepth > kMaxVmafBitDepth) {
        return failure(QualityMetricStatus::UnsupportedLayout, kUnsupportedBitDepth);
    }
    PlaneFault fault = PlaneFault::None;
    for (std::uint8_t index = 0; index < kVmafPlaneCount && fault == PlaneFault::None; ++index) {
        const VideoPlane* referencePlane = findPlane(reference, index);
        if (referencePlane == nullptr) {
            return failure(QualityMetricStatus::MissingReferenceFrame, kReferenceMissingPlane);
        }
        const VideoPlane* encodedPlane = findPlane(encoded, index);
        if (encodedPlane == nullptr) {
            return failure(QualityMetricStatus::MissingEncodedFrame, kEncodedMissingPlane);
        }
        if (!sameGeometry(*referencePlane, *encodedPlane)) {
            fault = PlaneFault::Geometry;
        } else if (referencePlane->bytesPerSample != 1 && referencePlane->bytesPerSample != 2) {
            return failure(QualityMetricStatus::UnsupportedLayout, kUnsupportedSampleSize);
        } else if (referencePlane->stride < visibleRowBytes(*referencePlane) ||
                   encodedPlane->stride < visibleRowBytes(*encodedPlane)) {
            fault = PlaneFault::Stride;
        } else if (!holdsRows(*referencePlane) || !holdsRows(*encodedPlane)) {
            fault = PlaneFault::Storage;
        }
    }
    return planeFaultFailure(fault);
}

bool fillVmafPicture(const VmafApi& api, const VideoFrame& frame, VmafPicture& picture) {
    const std::optional<VmafPixelFormat> format = vmafPixelFormat(frame.chromaFormat);
    if (!format || frame.width < 1 || frame.height < 1 || frame.bitDepth < 1) {
        return false;
    }
    picture = VmafPicture{};
    if (api.pictureAlloc(&picture, *format, static_cast<unsigned>(frame.bitDepth),
                         static_cast<unsigned>(frame.width), static_cast<unsigned>(frame.height)) != 0) {
        return false;
    }
    if (!copyPlanesIntoVmafPicture(frame, picture)) {
        api.pictureUnref(&picture);
        return false;
    }
    return true;
}

std::optional<VmafQualityMetrics> checkVmafPair(const VmafRuntime& runtime, const VideoFrame& reference,
                                                const VideoFrame& encoded) {
    if (auto fault = checkVmafFrameFormat(reference, encoded)) {
        return fault;
    }
    if (!vmafPixelFormat(reference.chromaFormat)) {
        return failure(QualityMetricStatus::UnsupportedLayout, kUnsupportedChroma);
    }
    if (reference.width <= kLargestRefusedPictureSide || reference.height <= kLargestRefusedPictureSide) {
        return failure(QualityMetricStatus::UnsupportedLayout, kPictureTooSmall);
    }
    if (!runtime.loaded) {
        return vmafBackendUnavailable(runtime.errorText.empty() ? kRuntimeNotAvailable : runtime.errorText);
    }
    return std::nullopt;
}

VmafQualityMetrics computeVmafScore(const VmafRuntime& runtime, const std::string& defaultModelPath,
                                    const VideoFrame& reference, const VideoFrame& encoded,
                                    const VmafOptions& options) {
    VmafSequence sequence(runtime, defaultModelPath, options);
    sequence.add(kSinglePairKey, reference, encoded);
    sequence.finish();
    return sequence.result(kSinglePairKey);
}

VmafQualityMetrics computeVmaf(const VideoFrame& reference, const VideoFrame& encoded, VmafOptions options) {
    try {
        return computeVmafScore(vmafRuntime(), vmafDefaultModelPath(), reference, encoded, options);
    } catch (...) {
        // Only allocation can throw here; the caller is promised a record, not an exception.
        return makeVmafFailure(QualityMetricStatus::ComputeError, kUnexpectedFailure);
    }
}

}  // namespace vexilo::media
