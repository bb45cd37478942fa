#pragma once

// The test controls of the libvmaf stand-in, resolved by name from the loaded library.
// Functions are named as they are exported; the tests look them up with dlsym.

#include <cstddef>
#include <cstdint>

extern "C" {

// What the most recent calls were given.
struct VexiloVmafStandInLastCall {
    int logLevel;
    unsigned threadCount;
    unsigned subsample;
    std::uint64_t cpuMask;
    std::uint64_t gpuMask;
    char modelName[64];
    std::uint64_t modelFlags;
    char modelArgument[512];  // version or path given to the last model load
    int pixelFormat;          // of the last picture allocation
    unsigned bitsPerComponent;
    unsigned width;
    unsigned height;
};

// Forgets recorded calls and clears every switch; live counters are untouched.
using VexiloVmafStandInResetFn = void (*)();
// Makes every later call of `function` answer `code`. For vmaf_init and both model loads a
// code of 0 answers success without an object; for vmaf_version any code answers null.
// "vmaf_read_pictures flush" names the flushing call, and "vmaf_feature_score_at_index
// <feature name>" one feature only.
using VexiloVmafStandInFailFn = void (*)(const char* function, int code);
using VexiloVmafStandInCounterFn = long (*)();
// How often `function` was called since the last reset.
using VexiloVmafStandInCallCountFn = long (*)(const char* function);
// The recorded call names, comma-separated, copied into `buffer`; returns the full length.
using VexiloVmafStandInCallLogFn = std::size_t (*)(char* buffer, std::size_t capacity);
using VexiloVmafStandInLastCallFn = void (*)(VexiloVmafStandInLastCall* out);
// Called at the start of every vmaf_init, on the calling thread; null removes it.
using VexiloVmafStandInInitHook = void (*)(void* data);
using VexiloVmafStandInOnInitFn = void (*)(VexiloVmafStandInInitHook hook, void* data);

}  // extern "C"

inline constexpr const char* kStandInResetSymbol = "vexilo_vmaf_stand_in_reset";
inline constexpr const char* kStandInFailSymbol = "vexilo_vmaf_stand_in_fail";
inline constexpr const char* kStandInLiveContextsSymbol = "vexilo_vmaf_stand_in_live_contexts";
inline constexpr const char* kStandInLiveModelsSymbol = "vexilo_vmaf_stand_in_live_models";
inline constexpr const char* kStandInLivePicturesSymbol = "vexilo_vmaf_stand_in_live_pictures";
inline constexpr const char* kStandInMisuseSymbol = "vexilo_vmaf_stand_in_misuse_count";
inline constexpr const char* kStandInCallCountSymbol = "vexilo_vmaf_stand_in_call_count";
inline constexpr const char* kStandInCallLogSymbol = "vexilo_vmaf_stand_in_call_log";
inline constexpr const char* kStandInLastCallSymbol = "vexilo_vmaf_stand_in_last_call";
inline constexpr const char* kStandInOnInitSymbol = "vexilo_vmaf_stand_in_on_init";

// The stand-in's version text. Its score is 100 × (1 − (d + motion2) / peak) and each
// feature but motion2 1 − weight × d / peak (both floored at 0), d being the pair's mean
// absolute luma difference. motion2 (reported as it is, in samples) is the smaller of the
// pair's motion and the next pair's, the last pair's being its own; a pair's motion is the
// mean absolute difference of its reference luma from the reference read just before it in
// the same context, 0 for the first.
inline constexpr const char* kStandInVersion = "stand-in-3.0.0";
