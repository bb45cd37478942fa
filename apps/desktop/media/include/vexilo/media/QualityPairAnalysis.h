#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/ReferenceYuvSource.h"
#include "vexilo/domain/VideoFrame.h"
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/media/VmafBackend.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vexilo::media {

// One decoded frame measured against its reference frame: the frame metrics and the
// heat-map blocks. VMAF is left to the caller: a pair's VMAF depends on the reference
// frames around it, so it is scored in a `VmafSequence` that sees them.
struct MeasuredQualitySide {
    FrameQualityMetrics metrics;
    std::vector<RegionQualityMetrics> regions;
};

[[nodiscard]] MeasuredQualitySide measureQualityPair(const domain::VideoFrame& reference,
                                                     const domain::VideoFrame& encoded);

// The options every quality run scores VMAF with: the built-in model by name when no model
// file is configured, the calling thread, the default features.
[[nodiscard]] VmafOptions qualityRunVmafOptions();

// The pair analysis is decoding and measuring, so it lives with the decoder and the metrics
// engine; the application's quality service runs it on its thread and knows these types
// under its own namespace as well.

// Where the frames come from. Any value but FullStreamDecode behaves as BoundedCache.
enum class QualityFrameSourceMode : std::uint8_t {
    BoundedCache = 0,      // the frames handed in with each request
    FullStreamDecode = 1,  // a fresh decode of streams A and B, side by side
};

struct QualityPairRequest {
    std::int32_t row = 0;
    std::int64_t frameIndex = 0;  // display index of the A and B pictures and index of the reference frame
    std::optional<std::int64_t> referenceFrameIndex;  // only its presence counts
    std::optional<domain::PictureId> pictureIdA;      // present: A is measured
    std::optional<domain::PictureId> pictureIdB;      // present: B is measured
    domain::VideoFramePtr frameA;  // from A's frame cache; may be empty
    domain::VideoFramePtr frameB;
};

struct QualityPairResult {
    std::int32_t row = 0;
    std::int64_t frameIndex = 0;
    std::optional<FrameQualityMetrics> metricsA;
    std::optional<FrameQualityMetrics> metricsB;
    std::vector<RegionQualityMetrics> regionsA;
    std::vector<RegionQualityMetrics> regionsB;
};

struct QualityAnalysisInput {
    domain::ReferenceYuvSource reference;
    std::vector<QualityPairRequest> requests;  // in the order the rows were chosen
    QualityFrameSourceMode mode = QualityFrameSourceMode::BoundedCache;
    std::optional<std::filesystem::path> streamAPath;  // used in full-stream mode
    std::optional<std::filesystem::path> streamBPath;
};

using QualityCancelFlag = std::shared_ptr<std::atomic<bool>>;
using QualityPairCallback = std::function<void(QualityPairResult)>;

// Measures every requested pair and hands each result to `onResult`. Problems become failed
// sides of their pair, never a stop; the cancel flag (may be null) ends the run early, and
// once it is set nothing more is handed over.
// Bounded mode measures on the calling thread and reports in request order.
// Full-stream mode decodes A on the calling thread and B beside it on a second one, so that a
// pair is handed over as soon as both its pictures are measured, with its VMAF records pending
// (`kVmafPendingMessage`); pairs leave in ascending frame index, one call at a time, from
// whichever of the two threads completed them. Each pair is handed over once more, complete,
// on the calling thread when both streams have been decoded and their VMAF sequences scored.
void analyzeQualityPairs(const QualityAnalysisInput& input, const QualityCancelFlag& cancel,
                         QualityPairCallback onResult);

inline constexpr const char* kVmafPendingMessage = "VMAF is scored once the whole stream is decoded";

// Decodes one stream from its file and measures the requested pictures of that side;
// `onMeasured` (may be empty) hears the display index of each picture measured.
void decodeFullStreamSide(const std::filesystem::path& path, bool isA, const domain::ReferenceYuvSource& reference,
                          const std::map<std::int64_t, QualityPairRequest>& requests,
                          std::map<std::int64_t, QualityPairResult>& results, const QualityCancelFlag& cancel,
                          const std::function<void(std::int64_t)>& onMeasured = {});

}  // namespace vexilo::media
