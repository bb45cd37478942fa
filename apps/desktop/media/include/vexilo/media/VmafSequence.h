#pragma once

#include "vexilo/domain/VideoFrame.h"
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/media/VmafBackend.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vexilo::media {

struct VmafRuntime;

// Consecutive frame pairs of one sequence scored in one libvmaf session, as libvmaf's own
// `vmaf` tool scores a file: features that look at neighbouring reference frames (motion)
// see them, and the context and model are made once per sequence instead of once per pair.
// A pair's score depends on the reference frames just before and after it, so a caller
// scoring a single pair feeds those neighbours too.
class VmafSequence {
public:
    // Scores with the process's libvmaf and default model location.
    explicit VmafSequence(VmafOptions options);
    // Scores with `runtime`, which must outlive the sequence.
    VmafSequence(const VmafRuntime& runtime, std::string defaultModelPath, VmafOptions options);
    ~VmafSequence();
    VmafSequence(const VmafSequence&) = delete;
    VmafSequence& operator=(const VmafSequence&) = delete;

    // Feeds the next pair of the sequence (display order) under `key`. A pair that cannot be
    // scored keeps its failure record and is not given to libvmaf.
    void add(std::int64_t key, const domain::VideoFrame& reference, const domain::VideoFrame& encoded);

    // Ends the sequence; libvmaf scores what it holds. Later pairs are refused.
    void finish();

    // The record of the pair fed under `key`, once the sequence has finished.
    [[nodiscard]] VmafQualityMetrics result(std::int64_t key) const;

private:
    class Session;
    std::unique_ptr<Session> session_;
};

}  // namespace vexilo::media
