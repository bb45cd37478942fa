#include "vexilo/media/QualityPairAnalysis.h"

#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/ReferenceYuv.h"
#include "vexilo/media/VmafBackend.h"
#include "vexilo/media/VmafSequence.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <utility>

namespace vexilo::media {

MeasuredQualitySide measureQualityPair(const domain::VideoFrame& reference, const domain::VideoFrame& encoded) {
    return MeasuredQualitySide{computeFrameQualityMetrics(reference, encoded),
                               computeRegionalQualityMetrics(reference, encoded, kQualityRegionBlockSize)};
}

VmafOptions qualityRunVmafOptions() {
    VmafOptions options;
    options.modelVersion = std::string(kDefaultVmafModelVersion);
    return options;
}

}  // namespace vexilo::media

namespace vexilo::application {
namespace {

using media::FrameQualityMetrics;
using media::QualityMetricStatus;
using media::makeFailedFrameQualityMetrics;

constexpr std::string_view kReferenceIndexOutsideRange = "Reference frame index is outside the matched frame range";

enum class Side : std::uint8_t { A, B };
constexpr Side kSides[] = {Side::A, Side::B};

struct SideTexts {
    std::string_view notInCache;
    std::string_view notProduced;
};
constexpr SideTexts kSideTexts[] = {
    {"A decoded frame is not available in the bounded frame cache", "A decoded frame was not produced"},
    {"B decoded frame is not available in the bounded frame cache", "B decoded frame was not produced"},
};

const SideTexts& textsOf(Side side) {
    return kSideTexts[static_cast<std::size_t>(side)];
}

Side sideOf(bool isA) {
    return isA ? Side::A : Side::B;
}

bool wants(const QualityPairRequest& request, Side side) {
    return side == Side::A ? request.pictureIdA.has_value() : request.pictureIdB.has_value();
}

const domain::VideoFramePtr& frameOf(const QualityPairRequest& request, Side side) {
    return side == Side::A ? request.frameA : request.frameB;
}

std::optional<FrameQualityMetrics>& metricsOf(QualityPairResult& result, Side side) {
    return side == Side::A ? result.metricsA : result.metricsB;
}

std::vector<media::RegionQualityMetrics>& regionsOf(QualityPairResult& result, Side side) {
    return side == Side::A ? result.regionsA : result.regionsB;
}

bool isCanceled(const QualityCancelFlag& cancel) {
    return cancel && cancel->load();
}

QualityPairResult emptyResult(const QualityPairRequest& request) {
    QualityPairResult result;
    result.row = request.row;
    result.frameIndex = request.frameIndex;
    return result;
}

void failSide(QualityPairResult& result, Side side, QualityMetricStatus status, std::string_view message) {
    metricsOf(result, side) = makeFailedFrameQualityMetrics(status, message);
}

// Gives every wanted side of the request the same failure.
void failWantedSides(const QualityPairRequest& request, QualityPairResult& result, QualityMetricStatus status,
                     std::string_view message) {
    for (const Side side : kSides) {
        if (wants(request, side)) {
            failSide(result, side, status, message);
        }
    }
}

// The result slot of a request, made on first use so that a caller's partial map is safe.
QualityPairResult& resultFor(std::map<std::int64_t, QualityPairResult>& results, const QualityPairRequest& request) {
    return results.try_emplace(request.frameIndex, emptyResult(request)).first->second;
}

void storeMeasurement(QualityPairResult& result, Side side, media::MeasuredQualitySide measured) {
    metricsOf(result, side) = std::move(measured.metrics);
    regionsOf(result, side) = std::move(measured.regions);
}

// A reference frame read into storage kept from one request to the next, so that a run of
// pairs allocates (and the system zero-fills) its frames once.
struct ReusedReferenceFrame {
    domain::VideoFrame frame;
    std::vector<std::uint8_t> scratch;
    bool loaded = false;

    media::ReferenceYuvReadStatus read(const domain::ReferenceYuvSource& reference, std::int64_t frameIndex) {
        media::ReferenceYuvReadStatus status = media::readReferenceYuvFrameInto(reference, frameIndex, frame, scratch);
        loaded = status.loaded;
        return status;
    }
};

// The reference frame of a pair and those just before and after it, which libvmaf's motion
// feature looks at; a neighbour is absent at the ends of the reference file or when it
// cannot be read.
struct BoundedReferenceFrames {
    ReusedReferenceFrame current;
    ReusedReferenceFrame previous;
    ReusedReferenceFrame next;

    void readNeighbours(const domain::ReferenceYuvSource& reference, std::int64_t frameIndex) {
        previous.loaded = frameIndex > 0 && previous.read(reference, frameIndex - 1).loaded;
        static_cast<void>(next.read(reference, frameIndex + 1));
    }
};

// A single pair scored as the middle of its three-frame sequence. Only the neighbours'
// reference frames matter to the pair's score, so each neighbour is fed against itself.
media::VmafQualityMetrics vmafAmongNeighbours(const BoundedReferenceFrames& references, std::int64_t frameIndex,
                                              const domain::VideoFrame& encoded) {
    media::VmafSequence sequence(media::qualityRunVmafOptions());
    if (references.previous.loaded) {
        sequence.add(frameIndex - 1, references.previous.frame, references.previous.frame);
    }
    sequence.add(frameIndex, references.current.frame, encoded);
    if (references.next.loaded) {
        sequence.add(frameIndex + 1, references.next.frame, references.next.frame);
    }
    sequence.finish();
    return sequence.result(frameIndex);
}

QualityPairResult analyzeBoundedRequest(const domain::ReferenceYuvSource& reference,
                                        const QualityPairRequest& request, BoundedReferenceFrames& references) {
    QualityPairResult result = emptyResult(request);
    if (!request.referenceFrameIndex) {
        failWantedSides(request, result, QualityMetricStatus::MissingReferenceFrame, kReferenceIndexOutsideRange);
        return result;
    }
    const media::ReferenceYuvReadStatus read = references.current.read(reference, request.frameIndex);
    if (!read.loaded) {
        failWantedSides(request, result, QualityMetricStatus::MissingReferenceFrame, read.message);
        return result;
    }
    bool neighboursRead = false;
    for (const Side side : kSides) {
        if (!wants(request, side)) {
            continue;
        }
        const domain::VideoFramePtr& frame = frameOf(request, side);
        if (!frame) {
            failSide(result, side, QualityMetricStatus::MissingEncodedFrame, textsOf(side).notInCache);
            continue;
        }
        if (!neighboursRead) {
            references.readNeighbours(reference, request.frameIndex);
            neighboursRead = true;
        }
        media::MeasuredQualitySide measured = media::measureQualityPair(references.current.frame, *frame);
        measured.metrics.vmaf = vmafAmongNeighbours(references, request.frameIndex, *frame);
        storeMeasurement(result, side, std::move(measured));
    }
    return result;
}

void analyzeBounded(const QualityAnalysisInput& input, const QualityCancelFlag& cancel,
                    const QualityPairCallback& onResult) {
    BoundedReferenceFrames references;
    for (const QualityPairRequest& request : input.requests) {
        if (isCanceled(cancel)) {
            return;
        }
        if (onResult) {
            onResult(analyzeBoundedRequest(input.reference, request, references));
        }
    }
}

bool allWantedSidesMeasured(const QualityPairRequest& request, QualityPairResult& result) {
    return std::all_of(std::begin(kSides), std::end(kSides),
                       [&](Side side) { return !wants(request, side) || metricsOf(result, side).has_value(); });
}

void analyzeFullStreams(const QualityAnalysisInput& input, const QualityCancelFlag& cancel,
                        const QualityPairCallback& onResult) {
    std::map<std::int64_t, QualityPairRequest> requests;
    for (const QualityPairRequest& request : input.requests) {
        requests.insert_or_assign(request.frameIndex, request);
    }
    std::map<std::int64_t, QualityPairResult> results;
    // The user sees each pair as soon as it is measured, not when both streams are through.
    const auto reportWhenMeasured = [&](std::int64_t frameIndex) {
        const auto request = requests.find(frameIndex);
        if (onResult && request != requests.end() && allWantedSidesMeasured(request->second, results.at(frameIndex))) {
            onResult(results.at(frameIndex));
        }
    };
    for (const auto& [frameIndex, request] : requests) {
        QualityPairResult& result = resultFor(results, request);
        if (!request.referenceFrameIndex) {
            failWantedSides(request, result, QualityMetricStatus::MissingReferenceFrame,
                            kReferenceIndexOutsideRange);
            reportWhenMeasured(frameIndex);
        }
    }
    const std::pair<const std::optional<std::filesystem::path>*, bool> streams[] = {{&input.streamAPath, true},
                                                                                    {&input.streamBPath, false}};
    for (const auto& [path, isA] : streams) {
        if (*path && !isCanceled(cancel)) {
            decodeFullStreamSide(**path, isA, input.reference, requests, results, cancel, reportWhenMeasured);
        }
    }
    for (auto& [frameIndex, result] : results) {
        if (isCanceled(cancel)) {
            return;
        }
        const QualityPairRequest& request = requests.at(frameIndex);
        for (const Side side : kSides) {
            if (wants(request, side) && !metricsOf(result, side)) {
                failSide(result, side, QualityMetricStatus::MissingEncodedFrame, textsOf(side).notProduced);
            }
        }
        if (onResult) {
            onResult(std::move(result));
        }
    }
}

}  // namespace

void analyzeQualityPairs(const QualityAnalysisInput& input, const QualityCancelFlag& cancel,
                         QualityPairCallback onResult) {
    if (input.mode == QualityFrameSourceMode::FullStreamDecode) {
        analyzeFullStreams(input, cancel, onResult);
    } else {
        analyzeBounded(input, cancel, onResult);
    }
}

namespace {

bool isMeasured(const QualityPairRequest& request, Side side) {
    return wants(request, side) && request.referenceFrameIndex.has_value();
}

// The display indices whose pictures go to libvmaf: every measured one with its neighbours
// and everything between, so that the session sees an unbroken run of the sequence.
struct FedRange {
    std::int64_t first = 0;
    std::int64_t last = -1;

    [[nodiscard]] bool contains(std::int64_t index) const { return index >= first && index <= last; }
};

FedRange fedRangeOf(const std::map<std::int64_t, QualityPairRequest>& requests, Side side) {
    std::optional<FedRange> range;
    for (const auto& [frameIndex, request] : requests) {
        if (!isMeasured(request, side)) {
            continue;
        }
        const FedRange around{frameIndex > 0 ? frameIndex - 1 : 0, frameIndex + 1};
        range = range ? FedRange{std::min(range->first, around.first), std::max(range->last, around.last)} : around;
    }
    return range.value_or(FedRange{});
}

// One side's pictures in display order: measured ones get their metrics at once, and the
// fed range goes through one VMAF sequence whose scores are filled in when decoding ends.
class FullStreamSideMeasurer {
public:
    FullStreamSideMeasurer(const domain::ReferenceYuvSource& reference,
                           const std::map<std::int64_t, QualityPairRequest>& requests,
                           std::map<std::int64_t, QualityPairResult>& results, Side side,
                           const std::function<void(std::int64_t)>& onMeasured)
        : reference_(reference), requests_(requests), results_(results), side_(side),
          fedRange_(fedRangeOf(requests, side)), sequence_(media::qualityRunVmafOptions()), onMeasured_(onMeasured) {}

    void onPicture(const domain::PictureInfo& picture, const domain::VideoFrame& frame) {
        const std::int64_t frameIndex = picture.displayIndex;
        const auto found = requests_.find(frameIndex);
        const bool measured = found != requests_.end() && isMeasured(found->second, side_);
        if (!measured && !fedRange_.contains(frameIndex)) {
            return;
        }
        const media::ReferenceYuvReadStatus read =
            media::readReferenceYuvFrameInto(reference_, frameIndex, referenceFrame_, referenceScratch_);
        if (!read.loaded) {
            if (measured) {
                failSide(resultFor(results_, found->second), side_, QualityMetricStatus::MissingReferenceFrame,
                         read.message);
                notifyMeasured(frameIndex);
            }
            return;
        }
        sequence_.add(frameIndex, referenceFrame_, frame);
        if (measured) {
            media::MeasuredQualitySide measuredSide = media::measureQualityPair(referenceFrame_, frame);
            measuredSide.metrics.vmaf.message = kVmafPendingMessage;
            storeMeasurement(resultFor(results_, found->second), side_, std::move(measuredSide));
            scored_.insert(frameIndex);
            notifyMeasured(frameIndex);
        }
    }

    // Scores the sequence and gives each measured pair its VMAF record.
    void finish() {
        sequence_.finish();
        for (const std::int64_t frameIndex : scored_) {
            std::optional<FrameQualityMetrics>& metrics = metricsOf(results_.at(frameIndex), side_);
            if (metrics) {
                metrics->vmaf = sequence_.result(frameIndex);
            }
        }
    }

private:
    void notifyMeasured(std::int64_t frameIndex) const {
        if (onMeasured_) {
            onMeasured_(frameIndex);
        }
    }

    const domain::ReferenceYuvSource& reference_;
    const std::map<std::int64_t, QualityPairRequest>& requests_;
    std::map<std::int64_t, QualityPairResult>& results_;
    Side side_;
    FedRange fedRange_;
    media::VmafSequence sequence_;
    std::set<std::int64_t> scored_;
    // One reference frame's storage, refilled for every picture.
    domain::VideoFrame referenceFrame_;
    std::vector<std::uint8_t> referenceScratch_;
    const std::function<void(std::int64_t)>& onMeasured_;
};

}  // namespace

void decodeFullStreamSide(const std::filesystem::path& path, bool isA, const domain::ReferenceYuvSource& reference,
                          const std::map<std::int64_t, QualityPairRequest>& requests,
                          std::map<std::int64_t, QualityPairResult>& results, const QualityCancelFlag& cancel,
                          const std::function<void(std::int64_t)>& onMeasured) {
    const Side side = sideOf(isA);
    media::FFmpegResult<media::FFmpegVideoSource> source = media::FFmpegVideoSource::open(path);
    if (!source.ok()) {
        for (const auto& [frameIndex, request] : requests) {
            if (wants(request, side)) {
                failSide(resultFor(results, request), side, QualityMetricStatus::MissingEncodedFrame,
                         source.error().detail);
            }
        }
        return;
    }
    FullStreamSideMeasurer measurer(reference, requests, results, side, onMeasured);
    const auto onPicture = [&measurer](media::FFmpegDecodedPicture picture) {
        measurer.onPicture(picture.picture, picture.frame);
    };
    const media::FFmpegResult<media::FFmpegDecodeSummary> decoded =
        source.value().decodeSequentially(onPicture, [&cancel] { return isCanceled(cancel); });
    measurer.finish();
    if (decoded.ok()) {
        return;
    }
    for (const auto& [frameIndex, request] : requests) {
        QualityPairResult& result = resultFor(results, request);
        if (wants(request, side) && !metricsOf(result, side)) {
            failSide(result, side, QualityMetricStatus::MissingEncodedFrame, decoded.error().detail);
        }
    }
}

}  // namespace vexilo::application
