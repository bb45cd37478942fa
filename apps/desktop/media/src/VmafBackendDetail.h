#pragma once

#include "VmafAbi.h"
#include "VmafRuntime.h"
#include "vexilo/media/VmafBackend.h"

#include <optional>
#include <string>

// The steps of the VMAF backend, open to its tests so that they can score against a
// runtime of their own instead of the process's one.
namespace vexilo::media {

// The first reason the pair cannot be scored, or nothing.
[[nodiscard]] std::optional<VmafQualityMetrics> checkVmafFrameFormat(const domain::VideoFrame& reference,
                                                                     const domain::VideoFrame& encoded);

// Allocates a libvmaf picture for `frame` and copies its planes in; on success the caller
// owns `picture`, on failure nothing is left allocated.
[[nodiscard]] bool fillVmafPicture(const VmafApi& api, const domain::VideoFrame& frame,
                                   vmaf_abi::VmafPicture& picture);

// The first reason the pair must not reach libvmaf: its format, its size, or an absent
// runtime; nothing when it may.
[[nodiscard]] std::optional<VmafQualityMetrics> checkVmafPair(const VmafRuntime& runtime,
                                                              const domain::VideoFrame& reference,
                                                              const domain::VideoFrame& encoded);

// One pair scored as a sequence of its own.
[[nodiscard]] VmafQualityMetrics computeVmafScore(const VmafRuntime& runtime, const std::string& defaultModelPath,
                                                  const domain::VideoFrame& reference,
                                                  const domain::VideoFrame& encoded, const VmafOptions& options);

// "<function> failed with code <code>".
[[nodiscard]] std::string vmafErrorText(std::string_view function, int code);
[[nodiscard]] VmafQualityMetrics vmafComputeError(std::string_view function, int code);
// "Backend unavailable: <reason>".
[[nodiscard]] VmafQualityMetrics vmafBackendUnavailable(std::string_view reason);

}  // namespace vexilo::media
