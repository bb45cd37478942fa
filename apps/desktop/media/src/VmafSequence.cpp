#include "vexilo/media/VmafSequence.h"

#include "QualityMetricsDetail.h"
#include "VmafBackendDetail.h"

#include <filesystem>
#include <map>
#include <optional>
#include <utility>

namespace vexilo::media {
namespace {

using vmaf_abi::VmafPicture;

constexpr std::string_view kModelFileNotAvailable = "VMAF model file is not available";
constexpr std::string_view kPictureMappingFailed = "Unable to map Vexilo frame planes into libvmaf picture buffers";
constexpr std::string_view kPairNotInSequence = "VMAF pair was not part of the scored sequence";
constexpr std::string_view kSequenceUnfinished = "VMAF sequence has not been scored yet";
constexpr const char* kModelConfigurationName = "Vexilo VMAF";

vmaf_abi::VmafConfiguration vmafConfiguration(std::uint32_t threadCount) {
    vmaf_abi::VmafConfiguration configuration{};
    configuration.log_level = vmaf_abi::VmafLogLevelNone;
    configuration.n_threads = threadCount;
    configuration.n_subsample = 0;
    configuration.cpumask = 0;
    configuration.gpumask = 0;
    return configuration;
}

std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

bool isRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(pathOf(path), error);
}

std::string fileNameOf(const std::string& path) {
    const std::u8string name = pathOf(path).filename().u8string();
    return std::string(name.begin(), name.end());
}

// A picture the backend still owns; libvmaf takes it with the read call.
class OwnedPicture {
public:
    explicit OwnedPicture(const VmafApi& api) : api_(api) {}
    OwnedPicture(const OwnedPicture&) = delete;
    OwnedPicture& operator=(const OwnedPicture&) = delete;
    ~OwnedPicture() {
        if (held_) {
            api_.pictureUnref(&picture_);
        }
    }

    [[nodiscard]] bool fill(const domain::VideoFrame& frame) {
        held_ = fillVmafPicture(api_, frame, picture_);
        return held_;
    }
    VmafPicture* handOver() {
        held_ = false;
        return &picture_;
    }

private:
    const VmafApi& api_;
    VmafPicture picture_{};
    bool held_ = false;
};

}  // namespace

// The libvmaf context and model of one sequence, made at the first scorable pair and
// released (model, then context) with the sequence.
class VmafSequence::Session {
public:
    Session(const VmafRuntime& runtime, std::string modelPath, VmafOptions options)
        : runtime_(runtime), api_(runtime.api), modelPath_(std::move(modelPath)), options_(std::move(options)) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ~Session() {
        if (model_ != nullptr) {
            api_.modelDestroy(model_);
        }
        if (context_ != nullptr) {
            api_.close(context_);
        }
    }

    void add(std::int64_t key, const domain::VideoFrame& reference, const domain::VideoFrame& encoded) {
        if (finished_) {
            refused_.insert_or_assign(key, makeVmafFailure(QualityMetricStatus::ComputeError, kPairNotInSequence));
            return;
        }
        if (std::optional<VmafQualityMetrics> fault = checkVmafPair(runtime_, reference, encoded)) {
            refused_.insert_or_assign(key, *std::move(fault));
            return;
        }
        if (!broken_ && context_ == nullptr) {
            broken_ = start();
        }
        if (broken_) {
            refused_.insert_or_assign(key, *broken_);
            return;
        }
        read(key, reference, encoded);
    }

    void finish() {
        if (finished_) {
            return;
        }
        finished_ = true;
        if (context_ != nullptr && !broken_) {
            if (const int code = api_.readPictures(context_, nullptr, nullptr, 0); code != 0) {
                flushFailure_ = vmafComputeError("vmaf_read_pictures flush", code);
            }
        }
    }

    [[nodiscard]] VmafQualityMetrics result(std::int64_t key) const {
        if (const auto refused = refused_.find(key); refused != refused_.end()) {
            return refused->second;
        }
        const auto fed = fed_.find(key);
        if (fed == fed_.end()) {
            return makeVmafFailure(QualityMetricStatus::ComputeError, kPairNotInSequence);
        }
        if (!finished_) {
            return makeVmafFailure(QualityMetricStatus::ComputeError, kSequenceUnfinished);
        }
        if (flushFailure_) {
            return *flushFailure_;
        }
        return scoreAt(fed->second);
    }

private:
    // Context, model and features; the first failure, which then holds for every pair.
    std::optional<VmafQualityMetrics> start() {
        if (const int code = api_.init(&context_, vmafConfiguration(options_.threadCount));
            code != 0 || context_ == nullptr) {
            return vmafComputeError("vmaf_init", code);
        }
        if (std::optional<VmafQualityMetrics> fault = loadModel()) {
            return fault;
        }
        if (const int code = api_.useFeaturesFromModel(context_, model_); code != 0) {
            return vmafComputeError("vmaf_use_features_from_model", code);
        }
        return std::nullopt;
    }

    std::optional<VmafQualityMetrics> loadModel() {
        vmaf_abi::VmafModelConfig configuration{kModelConfigurationName, 0};
        int code = 0;
        if (modelPath_.empty()) {
            code = api_.modelLoad(&model_, &configuration, options_.modelVersion.c_str());
            modelVersion_ = options_.modelVersion;
        } else {
            if (!isRegularFile(modelPath_)) {
                return vmafBackendUnavailable(kModelFileNotAvailable);
            }
            code = api_.modelLoadFromPath(&model_, &configuration, modelPath_.c_str());
            modelVersion_ = fileNameOf(modelPath_);
        }
        if (code != 0 || model_ == nullptr) {
            return vmafComputeError("vmaf_model_load", code);
        }
        return std::nullopt;
    }

    void read(std::int64_t key, const domain::VideoFrame& reference, const domain::VideoFrame& encoded) {
        OwnedPicture referencePicture(api_);
        OwnedPicture encodedPicture(api_);
        const bool referenceFilled = referencePicture.fill(reference);
        const bool encodedFilled = encodedPicture.fill(encoded);
        if (!referenceFilled || !encodedFilled) {
            refused_.insert_or_assign(key,
                                      makeVmafFailure(QualityMetricStatus::UnsupportedLayout, kPictureMappingFailed));
            return;
        }
        const int code = api_.readPictures(context_, referencePicture.handOver(), encodedPicture.handOver(), nextIndex_);
        if (code != 0) {
            // libvmaf's state after a refused read is unknown, so nothing more goes in.
            broken_ = vmafComputeError("vmaf_read_pictures", code);
            refused_.insert_or_assign(key, *broken_);
            return;
        }
        fed_.insert_or_assign(key, nextIndex_);
        ++nextIndex_;
    }

    [[nodiscard]] VmafQualityMetrics scoreAt(unsigned index) const {
        double score = 0.0;
        if (const int code = api_.scoreAtIndex(context_, model_, &score, index); code != 0) {
            return vmafComputeError("vmaf_score_at_index", code);
        }
        VmafQualityMetrics result;
        result.status = QualityMetricStatus::Available;
        result.score = score;
        result.modelVersion = modelVersion_;
        const char* backendVersion = api_.version();
        result.backendVersion = backendVersion != nullptr ? std::string(backendVersion) : std::string();
        result.message = std::string(kAvailable);
        collectFeatureScores(index, result);
        return result;
    }

    void collectFeatureScores(unsigned index, VmafQualityMetrics& result) const {
        const auto scoreFeature = [&](std::string_view label, const std::string& featureName) {
            double value = 0.0;
            if (api_.featureScoreAtIndex(context_, featureName.c_str(), &value, index) == 0) {
                result.features.push_back(VmafFeatureScore{std::string(label), value, std::string(kAvailable)});
            }
        };
        if (options_.features.empty()) {
            for (const VmafFeatureDefinition& feature : defaultVmafFeatures) {
                scoreFeature(feature.label, std::string(feature.featureName));
            }
            return;
        }
        for (const std::string& name : options_.features) {
            scoreFeature(name, name);
        }
    }

    const VmafRuntime& runtime_;
    const VmafApi& api_;
    std::string modelPath_;
    VmafOptions options_;
    vmaf_abi::VmafContext* context_ = nullptr;
    vmaf_abi::VmafModel* model_ = nullptr;
    std::string modelVersion_;
    std::optional<VmafQualityMetrics> broken_;
    std::optional<VmafQualityMetrics> flushFailure_;
    std::map<std::int64_t, unsigned> fed_;
    std::map<std::int64_t, VmafQualityMetrics> refused_;
    unsigned nextIndex_ = 0;
    bool finished_ = false;
};

VmafSequence::VmafSequence(VmafOptions options)
    : VmafSequence(vmafRuntime(), vmafDefaultModelPath(), std::move(options)) {}

VmafSequence::VmafSequence(const VmafRuntime& runtime, std::string defaultModelPath, VmafOptions options) {
    std::string modelPath = options.modelPath.empty() ? std::move(defaultModelPath) : options.modelPath;
    session_ = std::make_unique<Session>(runtime, std::move(modelPath), std::move(options));
}

VmafSequence::~VmafSequence() = default;

void VmafSequence::add(std::int64_t key, const domain::VideoFrame& reference, const domain::VideoFrame& encoded) {
    session_->add(key, reference, encoded);
}

void VmafSequence::finish() {
    session_->finish();
}

VmafQualityMetrics VmafSequence::result(std::int64_t key) const {
    return session_->result(key);
}

}  // namespace vexilo::media
