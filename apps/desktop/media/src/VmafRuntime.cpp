#include "VmafRuntime.h"

#include "vexilo/media/VmafBackend.h"

#include <dlfcn.h>

#include <mutex>
#include <string_view>

namespace vexilo::media {
namespace {

constexpr std::string_view kUnableToLoadPrefix = "Unable to load configured libvmaf runtime '";
constexpr std::string_view kMissingSymbolPrefix = "libvmaf runtime is missing required symbol '";
constexpr std::string_view kUnknownLoaderError = "unknown dynamic loader error";
constexpr std::string_view kDefaultModelFileName = "vmaf_v0.6.1.json";

std::string loaderErrorText() {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string(kUnknownLoaderError);
}

// Binds one entry point; on a miss records which one, so that the first gap is named.
template <typename Function>
bool resolveVmafSymbol(void* module, const char* name, Function& slot, std::string& errorText) {
    void* address = dlsym(module, name);
    if (address == nullptr) {
        errorText = std::string(kMissingSymbolPrefix) + name + "'";
        return false;
    }
    slot = reinterpret_cast<Function>(address);
    return true;
}

bool resolveVmafApi(void* module, VmafApi& api, std::string& errorText) {
    return resolveVmafSymbol(module, "vmaf_init", api.init, errorText) &&
           resolveVmafSymbol(module, "vmaf_close", api.close, errorText) &&
           resolveVmafSymbol(module, "vmaf_model_load", api.modelLoad, errorText) &&
           resolveVmafSymbol(module, "vmaf_model_load_from_path", api.modelLoadFromPath, errorText) &&
           resolveVmafSymbol(module, "vmaf_model_destroy", api.modelDestroy, errorText) &&
           resolveVmafSymbol(module, "vmaf_use_features_from_model", api.useFeaturesFromModel, errorText) &&
           resolveVmafSymbol(module, "vmaf_picture_alloc", api.pictureAlloc, errorText) &&
           resolveVmafSymbol(module, "vmaf_picture_unref", api.pictureUnref, errorText) &&
           resolveVmafSymbol(module, "vmaf_read_pictures", api.readPictures, errorText) &&
           resolveVmafSymbol(module, "vmaf_score_at_index", api.scoreAtIndex, errorText) &&
           resolveVmafSymbol(module, "vmaf_feature_score_at_index", api.featureScoreAtIndex, errorText) &&
           resolveVmafSymbol(module, "vmaf_version", api.version, errorText);
}

// The one runtime of the process and the settings it was (or will be) loaded with.
struct ProcessVmafBackend {
    std::mutex mutex;
    VmafBackendSettings settings = builtInVmafBackendSettings();
    bool started = false;
    std::once_flag once;
    std::unique_ptr<VmafRuntime> runtime;
};

ProcessVmafBackend& processVmafBackend() {
    static ProcessVmafBackend backend;
    return backend;
}

}  // namespace

void VmafModuleCloser::operator()(void* module) const noexcept {
    if (module != nullptr) {
        dlclose(module);
    }
}

std::unique_ptr<VmafRuntime> loadVmafRuntime(const std::string& libraryPath) {
    auto runtime = std::make_unique<VmafRuntime>();
    runtime->module.reset(dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!runtime->module) {
        runtime->errorText = std::string(kUnableToLoadPrefix) + libraryPath + "': " + loaderErrorText();
        return runtime;
    }
    VmafApi api;
    if (resolveVmafApi(runtime->module.get(), api, runtime->errorText)) {
        runtime->api = api;
        runtime->loaded = true;
    }
    return runtime;
}

VmafBackendSettings builtInVmafBackendSettings() {
    VmafBackendSettings settings;
    settings.libraryPath = VEXILO_VMAF_LIBRARY_PATH;
    const std::string modelDirectory = VEXILO_VMAF_MODEL_DIRECTORY;
    if (!modelDirectory.empty()) {
        settings.defaultModelPath = modelDirectory + "/" + std::string(kDefaultModelFileName);
    }
    return settings;
}

bool configureVmafBackend(VmafBackendSettings settings) {
    ProcessVmafBackend& backend = processVmafBackend();
    const std::lock_guard lock(backend.mutex);
    if (backend.started) {
        return false;
    }
    backend.settings = std::move(settings);
    return true;
}

const VmafRuntime& vmafRuntime() {
    ProcessVmafBackend& backend = processVmafBackend();
    std::call_once(backend.once, [&backend] {
        const std::lock_guard lock(backend.mutex);
        backend.started = true;
        backend.runtime = loadVmafRuntime(backend.settings.libraryPath);
    });
    return *backend.runtime;
}

const std::string& vmafDefaultModelPath() {
    static_cast<void>(vmafRuntime());
    return processVmafBackend().settings.defaultModelPath;
}

}  // namespace vexilo::media
