#include "VmafStandInSupport.h"

#include "VmafRuntime.h"
#include "vexilo/media/VmafBackend.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace vexilo::media::test {
namespace {

template <typename Function>
void bind(void* module, const char* name, Function& slot) {
    void* address = dlsym(module, name);
    if (address == nullptr) {
        throw std::runtime_error(std::string("stand-in control missing: ") + name);
    }
    slot = reinterpret_cast<Function>(address);
}

}  // namespace

std::string standInPath() {
    return VEXILO_VMAF_STAND_IN_PATH;
}

std::string standInPathWithout(const std::string& symbol) {
    return std::string(VEXILO_VMAF_STAND_IN_DIR) + "/libvmaf_stand_in_without_" + symbol + ".so";
}

StandInControls::StandInControls() : module_(dlopen(standInPath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (module_ == nullptr) {
        throw std::runtime_error(std::string("stand-in cannot be loaded: ") + dlerror());
    }
    bind(module_, kStandInResetSymbol, reset_);
    bind(module_, kStandInFailSymbol, fail_);
    bind(module_, kStandInOnInitSymbol, onInit_);
    bind(module_, kStandInLiveContextsSymbol, liveContexts_);
    bind(module_, kStandInLiveModelsSymbol, liveModels_);
    bind(module_, kStandInLivePicturesSymbol, livePictures_);
    bind(module_, kStandInMisuseSymbol, misuse_);
    bind(module_, kStandInCallCountSymbol, callCount_);
    bind(module_, kStandInCallLogSymbol, callLog_);
    bind(module_, kStandInLastCallSymbol, lastCall_);
}

StandInControls::~StandInControls() {
    dlclose(module_);
}

std::string StandInControls::callLog() const {
    const std::size_t length = callLog_(nullptr, 0);
    std::vector<char> buffer(length + 1);
    static_cast<void>(callLog_(buffer.data(), buffer.size()));
    return std::string(buffer.data());
}

VexiloVmafStandInLastCall StandInControls::lastCall() const {
    VexiloVmafStandInLastCall last{};
    lastCall_(&last);
    return last;
}

void StandInControls::expectNothingLeft() const {
    EXPECT_EQ(liveContexts(), 0);
    EXPECT_EQ(liveModels(), 0);
    EXPECT_EQ(livePictures(), 0);
    EXPECT_EQ(misuse(), 0);
}

bool useStandInForProcess() {
    static_cast<void>(configureVmafBackend(VmafBackendSettings{standInPath(), ""}));
    return vmafRuntime().loaded;
}

}  // namespace vexilo::media::test
