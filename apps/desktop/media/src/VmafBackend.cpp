#include "vexilo/media/VmafBackend.h"

#include "QualityMetricsDetail.h"
#include "VmafBackendDetail.h"

#include <cstring>
#include <filesystem>

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
constexpr std::string_view kModelFileNotAvailable = "VMAF model file is not available";
constexpr std::string_view kPictureMappingFailed = "Unable to map Vexilo frame planes into libvmaf picture buffers";
constexpr std::string_view kUnexpectedFailure = "VMAF computation failed unexpectedly";
constexpr const char* kModelConfigurationName = "Vexilo VMAF";

constexpr std::int32_t kMinVmafBitDepth = 8;
constexpr std::int32_t kMaxVmafBitDepth = 16;
constexpr std::uint8_t kVmafPlaneCount = 3;
constexpr unsigned kPictureIndex = 0;

enum class PlaneFault { None, Geometry, Stride, Storage };

VmafQualityMetrics computeError(std::string_view function, int code) {
    return makeVmafFailure(QualityMetricStatus::ComputeError, vmafErrorText(function, code));
}

VmafQualityMetrics backendUnavailable(std::string_view reason) {
    return makeVmafFailure(QualityMetricStatus::BackendUnavailable,
                           std::string(kBackendUnavailablePrefix) + std::string(reason));
}

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

// One pair's libvmaf objects, released on every way out in the order libvmaf needs:
// pictures still held, then the model, then the context.
class VmafSession {
public:
    explicit VmafSession(const VmafApi& api) : api_(api) {}
    VmafSession(const VmafSession&) = delete;
    VmafSession& operator=(const VmafSession&) = delete;

    ~VmafSession() {
        for (OwnedPicture* owned : {&reference, &encoded}) {
            if (owned->held) {
                api_.pictureUnref(&owned->picture);
            }
        }
        if (model != nullptr) {
            api_.modelDestroy(model);
        }
        if (context != nullptr) {
            api_.close(context);
        }
    }

    struct OwnedPicture {
        VmafPicture picture{};
        bool held = false;
    };

    // libvmaf takes the pictures with the read call, whatever it answers.
    void handOverPictures() {
        reference.held = false;
        encoded.held = false;
    }

    vmaf_abi::VmafContext* context = nullptr;
    vmaf_abi::VmafModel* model = nullptr;
    OwnedPicture reference;
    OwnedPicture encoded;

private:
    const VmafApi& api_;
};

vmaf_abi::VmafConfiguration vmafConfiguration(std::uint32_t threadCount) {
    vmaf_abi::VmafConfiguration configuration{};
    configuration.log_level = vmaf_abi::VmafLogLevelNone;
    configuration.n_threads = threadCount;
    configuration.n_subsample = 0;
    configuration.cpumask = 0;
    configuration.gpumask = 0;
    return configuration;
}

bool isRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(std::u8string(path.begin(), path.end())), error);
}

std::string fileNameOf(const std::string& path) {
    const std::u8string name = std::filesystem::path(std::u8string(path.begin(), path.end())).filename().u8string();
    return std::string(name.begin(), name.end());
}

// Loads the model for the session and reports which version was used, or the failure.
std::optional<VmafQualityMetrics> loadModel(const VmafApi& api, VmafSession& session, const std::string& modelPath,
                                            const std::string& modelVersion, std::string& usedVersion) {
    vmaf_abi::VmafModelConfig configuration{kModelConfigurationName, 0};
    int code = 0;
    if (modelPath.empty()) {
        code = api.modelLoad(&session.model, &configuration, modelVersion.c_str());
        usedVersion = modelVersion;
    } else {
        if (!isRegularFile(modelPath)) {
            return backendUnavailable(kModelFileNotAvailable);
        }
        code = api.modelLoadFromPath(&session.model, &configuration, modelPath.c_str());
        usedVersion = fileNameOf(modelPath);
    }
    if (code != 0 || session.model == nullptr) {
        return computeError("vmaf_model_load", code);
    }
    return std::nullopt;
}

void collectFeatureScores(const VmafApi& api, vmaf_abi::VmafContext* context, const VmafOptions& options,
                          VmafQualityMetrics& result) {
    const auto scoreFeature = [&](std::string_view label, const std::string& featureName) {
        double value = 0.0;
        if (api.featureScoreAtIndex(context, featureName.c_str(), &value, kPictureIndex) == 0) {
            result.features.push_back(VmafFeatureScore{std::string(label), value, std::string(kAvailable)});
        }
    };
    if (options.features.empty()) {
        for (const VmafFeatureDefinition& feature : defaultVmafFeatures) {
            scoreFeature(feature.label, std::string(feature.featureName));
        }
        return;
    }
    for (const std::string& name : options.features) {
        scoreFeature(name, name);
    }
}

VmafQualityMetrics scorePair(const VmafApi& api, const VideoFrame& reference, const VideoFrame& encoded,
                             const std::string& modelPath, const VmafOptions& options) {
    VmafSession session(api);
    if (const int code = api.init(&session.context, vmafConfiguration(options.threadCount));
        code != 0 || session.context == nullptr) {
        return computeError("vmaf_init", code);
    }
    std::string modelVersion;
    if (auto fault = loadModel(api, session, modelPath, options.modelVersion, modelVersion)) {
        return *std::move(fault);
    }
    if (const int code = api.useFeaturesFromModel(session.context, session.model); code != 0) {
        return computeError("vmaf_use_features_from_model", code);
    }
    session.reference.held = fillVmafPicture(api, reference, session.reference.picture);
    session.encoded.held = fillVmafPicture(api, encoded, session.encoded.picture);
    if (!session.reference.held || !session.encoded.held) {
        return makeVmafFailure(QualityMetricStatus::UnsupportedLayout, kPictureMappingFailed);
    }
    const int readCode =
        api.readPictures(session.context, &session.reference.picture, &session.encoded.picture, kPictureIndex);
    session.handOverPictures();
    if (readCode != 0) {
        return computeError("vmaf_read_pictures", readCode);
    }
    if (const int code = api.readPictures(session.context, nullptr, nullptr, kPictureIndex); code != 0) {
        return computeError("vmaf_read_pictures flush", code);
    }
    double score = 0.0;
    if (const int code = api.scoreAtIndex(session.context, session.model, &score, kPictureIndex); code != 0) {
        return computeError("vmaf_score_at_index", code);
    }
    VmafQualityMetrics result;
    result.status = QualityMetricStatus::Available;
    result.score = score;
    result.modelVersion = std::move(modelVersion);
    const char* backendVersion = api.version();
    result.backendVersion = backendVersion != nullptr ? std::string(backendVersion) : std::string();
    result.message = std::string(kAvailable);
    collectFeatureScores(api, session.context, options, result);
    return result;
}

}  // namespace

std::string vmafErrorText(std::string_view function, int code) {
    return std::string(function) + " failed with code " + std::to_string(code);
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

VmafQualityMetrics computeVmafScore(const VmafRuntime& runtime, const std::string& defaultModelPath,
                                    const VideoFrame& reference, const VideoFrame& encoded,
                                    const VmafOptions& options) {
    if (auto fault = checkVmafFrameFormat(reference, encoded)) {
        return *std::move(fault);
    }
    if (!vmafPixelFormat(reference.chromaFormat)) {
        return makeVmafFailure(QualityMetricStatus::UnsupportedLayout, kUnsupportedChroma);
    }
    if (!runtime.loaded) {
        return backendUnavailable(runtime.errorText.empty() ? kRuntimeNotAvailable : runtime.errorText);
    }
    const std::string& modelPath = options.modelPath.empty() ? defaultModelPath : options.modelPath;
    return scorePair(runtime.api, reference, encoded, modelPath, options);
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
