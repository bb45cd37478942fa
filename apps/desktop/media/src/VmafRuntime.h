#pragma once

#include "VmafAbi.h"

#include <memory>
#include <string>

namespace vexilo::media {

// The libvmaf entry points the backend calls, in their order of resolution.
struct VmafApi {
    vmaf_abi::InitFn init = nullptr;
    vmaf_abi::CloseFn close = nullptr;
    vmaf_abi::ModelLoadFn modelLoad = nullptr;
    vmaf_abi::ModelLoadFromPathFn modelLoadFromPath = nullptr;
    vmaf_abi::ModelDestroyFn modelDestroy = nullptr;
    vmaf_abi::UseFeaturesFromModelFn useFeaturesFromModel = nullptr;
    vmaf_abi::PictureAllocFn pictureAlloc = nullptr;
    vmaf_abi::PictureUnrefFn pictureUnref = nullptr;
    vmaf_abi::ReadPicturesFn readPictures = nullptr;
    vmaf_abi::ScoreAtIndexFn scoreAtIndex = nullptr;
    vmaf_abi::FeatureScoreAtIndexFn featureScoreAtIndex = nullptr;
    vmaf_abi::VersionFn version = nullptr;
};

struct VmafModuleCloser {
    void operator()(void* module) const noexcept;
};

// A loaded (or failed) libvmaf. The module stays loaded while this lives, also when a
// symbol was missing, so that a failed load is never retried within its lifetime.
struct VmafRuntime {
    VmafApi api;
    std::unique_ptr<void, VmafModuleCloser> module;
    bool loaded = false;
    std::string errorText;  // UTF-8; empty when loaded
};

// Loads the library at `libraryPath` and resolves every entry point; a failure is told by
// `loaded` and `errorText`.
[[nodiscard]] std::unique_ptr<VmafRuntime> loadVmafRuntime(const std::string& libraryPath);

// The process's runtime, loaded on first use from the configured settings.
[[nodiscard]] const VmafRuntime& vmafRuntime();

// The configured default model path; fixed once `vmafRuntime` has been called.
[[nodiscard]] const std::string& vmafDefaultModelPath();

}  // namespace vexilo::media
