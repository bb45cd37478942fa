#pragma once

#include <cstddef>
#include <cstdint>

// libvmaf 3's public C types, mirrored because the library is loaded at run time and its
// headers are not part of the build. Only the members the backend touches are named;
// the layouts must match libvmaf.h, model.h and picture.h exactly.
namespace vexilo::media::vmaf_abi {

struct VmafContext;
struct VmafModel;

enum VmafLogLevel : int { VmafLogLevelNone = 0 };

enum VmafPixelFormat : int {
    VmafPixelFormatUnknown = 0,
    VmafPixelFormatYuv420P = 1,
    VmafPixelFormatYuv422P = 2,
    VmafPixelFormatYuv444P = 3,
};

inline constexpr std::size_t kVmafPictureComponents = 3;

struct VmafConfiguration {
    VmafLogLevel log_level;
    unsigned n_threads;
    unsigned n_subsample;
    std::uint64_t cpumask;
    std::uint64_t gpumask;
};

struct VmafModelConfig {
    const char* name;
    std::uint64_t flags;
};

struct VmafPicture {
    VmafPixelFormat pix_fmt;
    unsigned bpc;
    unsigned w[kVmafPictureComponents];
    unsigned h[kVmafPictureComponents];
    std::ptrdiff_t stride[kVmafPictureComponents];
    void* data[kVmafPictureComponents];
    void* ref;
    void* priv;
};

static_assert(sizeof(VmafConfiguration) == 32 && offsetof(VmafConfiguration, cpumask) == 16);
static_assert(sizeof(VmafModelConfig) == 16);
static_assert(sizeof(VmafPicture) == 96 && offsetof(VmafPicture, stride) == 32 && offsetof(VmafPicture, data) == 56);

using InitFn = int (*)(VmafContext**, VmafConfiguration);
using CloseFn = int (*)(VmafContext*);
using ModelLoadFn = int (*)(VmafModel**, VmafModelConfig*, const char*);
using ModelLoadFromPathFn = int (*)(VmafModel**, VmafModelConfig*, const char*);
using ModelDestroyFn = void (*)(VmafModel*);
using UseFeaturesFromModelFn = int (*)(VmafContext*, VmafModel*);
using PictureAllocFn = int (*)(VmafPicture*, VmafPixelFormat, unsigned, unsigned, unsigned);
using PictureUnrefFn = int (*)(VmafPicture*);
using ReadPicturesFn = int (*)(VmafContext*, VmafPicture*, VmafPicture*, unsigned);
using ScoreAtIndexFn = int (*)(VmafContext*, VmafModel*, double*, unsigned);
using FeatureScoreAtIndexFn = int (*)(VmafContext*, const char*, double*, unsigned);
using VersionFn = const char* (*)();

}  // namespace vexilo::media::vmaf_abi
