#pragma once

#include "VmafStandInControl.h"

#include <string>

namespace vexilo::media::test {

// The stand-in library, complete or lacking one entry point.
std::string standInPath();
std::string standInPathWithout(const std::string& symbol);

// The stand-in's test controls, reached through its own handle on the loaded library.
class StandInControls {
public:
    StandInControls();
    ~StandInControls();
    StandInControls(const StandInControls&) = delete;
    StandInControls& operator=(const StandInControls&) = delete;

    void reset() const { reset_(); }
    void fail(const std::string& function, int code) const { fail_(function.c_str(), code); }
    void onInit(VexiloVmafStandInInitHook hook, void* data) const { onInit_(hook, data); }
    [[nodiscard]] long liveContexts() const { return liveContexts_(); }
    [[nodiscard]] long liveModels() const { return liveModels_(); }
    [[nodiscard]] long livePictures() const { return livePictures_(); }
    [[nodiscard]] long misuse() const { return misuse_(); }
    [[nodiscard]] long callCount(const std::string& function) const { return callCount_(function.c_str()); }
    [[nodiscard]] std::string callLog() const;
    [[nodiscard]] VexiloVmafStandInLastCall lastCall() const;

    // Nothing of any pair is still alive and nothing was released that was not owned.
    void expectNothingLeft() const;

private:
    void* module_ = nullptr;
    VexiloVmafStandInResetFn reset_ = nullptr;
    VexiloVmafStandInFailFn fail_ = nullptr;
    VexiloVmafStandInOnInitFn onInit_ = nullptr;
    VexiloVmafStandInCounterFn liveContexts_ = nullptr;
    VexiloVmafStandInCounterFn liveModels_ = nullptr;
    VexiloVmafStandInCounterFn livePictures_ = nullptr;
    VexiloVmafStandInCounterFn misuse_ = nullptr;
    VexiloVmafStandInCallCountFn callCount_ = nullptr;
    VexiloVmafStandInCallLogFn callLog_ = nullptr;
    VexiloVmafStandInLastCallFn lastCall_ = nullptr;
};

// Points the process's VMAF backend at the stand-in (with the built-in model) unless it
// has been started already; true when the process runtime is the stand-in.
bool useStandInForProcess();

}  // namespace vexilo::media::test
