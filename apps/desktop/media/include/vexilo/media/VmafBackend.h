#pragma once

#include "vexilo/domain/VideoFrame.h"
#include "vexilo/media/QualityMetrics.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexilo::media {

// libvmaf's built-in model, used by name when no model file is configured.
inline constexpr std::string_view kDefaultVmafModelVersion = "vmaf_v0.6.1";

struct VmafOptions {
    std::string modelPath;  // UTF-8; empty selects the configured default model
    // Built-in model loaded by name when no model file is configured at all.
    std::string modelVersion = std::string(kDefaultVmafModelVersion);
    // libvmaf's worker threads beside the calling one; 0 runs every feature on the calling
    // thread (libvmaf picks no count of its own).
    std::uint32_t threadCount = 0;
    std::vector<std::string> features;  // empty selects `defaultVmafFeatures`
};

// A reported feature: `label` names it in the results, `featureName` asks libvmaf for it.
struct VmafFeatureDefinition {
    std::string_view label;
    std::string_view featureName;
};

inline constexpr std::array<VmafFeatureDefinition, 6> defaultVmafFeatures{{
    {"integer_adm2", "VMAF_integer_feature_adm2_score"},
    {"integer_motion2", "VMAF_integer_feature_motion2_score"},
    {"integer_vif_scale0", "VMAF_integer_feature_vif_scale0_score"},
    {"integer_vif_scale1", "VMAF_integer_feature_vif_scale1_score"},
    {"integer_vif_scale2", "VMAF_integer_feature_vif_scale2_score"},
    {"integer_vif_scale3", "VMAF_integer_feature_vif_scale3_score"},
}};

// Scores one frame pair with the process's libvmaf, as a sequence of that pair alone (so
// without motion; a pair within a stream is scored in a `VmafSequence` beside its
// neighbours). Every problem, an absent library and pictures of 16 samples or fewer in
// either direction included, is a status and message inside the result. Safe on several
// threads at once.
[[nodiscard]] VmafQualityMetrics computeVmaf(const domain::VideoFrame& reference, const domain::VideoFrame& encoded,
                                             VmafOptions options);

// Where the process finds libvmaf and its default model. Fixed at build time; only the
// tests move them, before the first score.
struct VmafBackendSettings {
    std::string libraryPath;       // UTF-8
    std::string defaultModelPath;  // UTF-8; empty loads the built-in model by name
};

[[nodiscard]] VmafBackendSettings builtInVmafBackendSettings();

// Replaces the settings; refused (false) once the runtime has been loaded.
bool configureVmafBackend(VmafBackendSettings settings);

}  // namespace vexilo::media
