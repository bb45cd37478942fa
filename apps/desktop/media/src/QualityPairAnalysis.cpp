#include "vexilo/media/QualityPairAnalysis.h"

#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/ReferenceYuv.h"
#include "vexilo/media/VmafBackend.h"

#include <string_view>
#include <utility>

namespace vexilo::media {

FrameQualityMetrics computeFrameQualityWithVmaf(const domain::VideoFrame& reference,
                                                const domain::VideoFrame& encoded) {
    FrameQualityMetrics metrics = computeFrameQualityMetrics(reference, encoded);
    VmafOptions options;
    options.modelVersion = std::string(kDefaultVmafModelVersion);
    metrics.vmaf = computeVmaf(reference, encoded, std::move(options));
    return metrics;
}

MeasuredQualitySide measureQualityPair(const domain::VideoFrame& reference, const domain::VideoFrame& encoded) {
    return MeasuredQualitySide{computeFrameQualityWithVmaf(reference, encoded),
                               computeRegionalQualityMetrics(reference, encoded, kQualityRegionBlockSize)};
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

// One side against the reference frame read for it alone (full-stream mode).
void measureSideAgainstReference(const domain::ReferenceYuvSource& reference, const domain::VideoFrame& frame,
                                 QualityPairResult& result, Side side) {
    media::ReferenceYuvFrameResult referenceFrame = media::readReferenceYuvFrame(reference, result.frameIndex);
    if (!referenceFrame.loaded || !referenceFrame.frame) {
        failSide(result, side, QualityMetricStatus::MissingReferenceFrame, referenceFrame.message);
        return;
    }
    storeMeasurement(result, side, media::measureQualityPair(*referenceFrame.frame, frame));
}

QualityPairResult analyzeBoundedRequest(const domain::ReferenceYuvSource& reference,
                                        const QualityPairRequest& request) {
    QualityPairResult result = emptyResult(request);
    if (!request.referenceFrameIndex) {
        failWantedSides(request, result, QualityMetricStatus::MissingReferenceFrame, kReferenceIndexOutsideRange);
        return result;
    }
    const media::ReferenceYuvFrameResult referenceFrame = media::readReferenceYuvFrame(reference, request.frameIndex);
    if (!referenceFrame.loaded || !referenceFrame.frame) {
        failWantedSides(request, result, QualityMetricStatus::MissingReferenceFrame, referenceFrame.message);
        return result;
    }
    for (const Side side : kSides) {
        if (!wants(request, side)) {
            continue;
        }
        if (const domain::VideoFramePtr& frame = frameOf(request, side)) {
            storeMeasurement(result, side, media::measureQualityPair(*referenceFrame.frame, *frame));
        } else {
            failSide(result, side, QualityMetricStatus::MissingEncodedFrame, textsOf(side).notInCache);
        }
    }
    return result;
}

void analyzeBounded(const QualityAnalysisInput& input, const QualityCancelFlag& cancel,
                    const QualityPairCallback& onResult) {
    for (const QualityPairRequest& request : input.requests) {
        if (isCanceled(cancel)) {
            return;
        }
        if (onResult) {
            onResult(analyzeBoundedRequest(input.reference, request));
        }
    }
}

void analyzeFullStreams(const QualityAnalysisInput& input, const QualityCancelFlag& cancel,
                        const QualityPairCallback& onResult) {
    std::map<std::int64_t, QualityPairRequest> requests;
    for (const QualityPairRequest& request : input.requests) {
        requests.insert_or_assign(request.frameIndex, request);
    }
    std::map<std::int64_t, QualityPairResult> results;
    for (const auto& [frameIndex, request] : requests) {
        QualityPairResult& result = resultFor(results, request);
        if (!request.referenceFrameIndex) {
            failWantedSides(request, result, QualityMetricStatus::MissingReferenceFrame,
                            kReferenceIndexOutsideRange);
        }
    }
    const std::pair<const std::optional<std::filesystem::path>*, bool> streams[] = {{&input.streamAPath, true},
                                                                                    {&input.streamBPath, false}};
    for (const auto& [path, isA] : streams) {
        if (*path && !isCanceled(cancel)) {
            decodeFullStreamSide(**path, isA, input.reference, requests, results, cancel);
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

void decodeFullStreamSide(const std::filesystem::path& path, bool isA, const domain::ReferenceYuvSource& reference,
                          const std::map<std::int64_t, QualityPairRequest>& requests,
                          std::map<std::int64_t, QualityPairResult>& results, const QualityCancelFlag& cancel) {
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
    const auto onPicture = [&](media::FFmpegDecodedPicture picture) {
        const auto found = requests.find(picture.picture.displayIndex);
        if (found == requests.end() || !wants(found->second, side) || !found->second.referenceFrameIndex) {
            return;
        }
        measureSideAgainstReference(reference, picture.frame, resultFor(results, found->second), side);
    };
    const media::FFmpegResult<media::FFmpegDecodeSummary> decoded =
        source.value().decodeSequentially(onPicture, [&cancel] { return isCanceled(cancel); });
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
