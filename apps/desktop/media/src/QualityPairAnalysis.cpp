#include "vexilo/media/QualityPairAnalysis.h"

#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/ReferenceYuv.h"
#include "vexilo/media/VmafBackend.h"
#include "vexilo/media/VmafSequence.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
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

namespace {

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

const std::optional<FrameQualityMetrics>& metricsOf(const QualityPairResult& result, Side side) {
    return side == Side::A ? result.metricsA : result.metricsB;
}

std::vector<RegionQualityMetrics>& regionsOf(QualityPairResult& result, Side side) {
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

void storeMeasurement(QualityPairResult& result, Side side, MeasuredQualitySide measured) {
    metricsOf(result, side) = std::move(measured.metrics);
    regionsOf(result, side) = std::move(measured.regions);
}

// A reference frame read into storage kept from one request to the next, so that a run of
// pairs allocates (and the system zero-fills) its frames once.
struct ReusedReferenceFrame {
    domain::VideoFrame frame;
    std::vector<std::uint8_t> scratch;
    bool loaded = false;

    ReferenceYuvReadStatus read(const domain::ReferenceYuvSource& reference, std::int64_t frameIndex) {
        ReferenceYuvReadStatus status = readReferenceYuvFrameInto(reference, frameIndex, frame, scratch);
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
VmafQualityMetrics vmafAmongNeighbours(const BoundedReferenceFrames& references, std::int64_t frameIndex,
                                              const domain::VideoFrame& encoded) {
    VmafSequence sequence(qualityRunVmafOptions());
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
    const ReferenceYuvReadStatus read = references.current.read(reference, request.frameIndex);
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
        MeasuredQualitySide measured = measureQualityPair(references.current.frame, *frame);
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

bool allWantedSidesMeasured(const QualityPairRequest& request, const QualityPairResult& result) {
    return std::all_of(std::begin(kSides), std::end(kSides),
                       [&](Side side) { return !wants(request, side) || metricsOf(result, side).has_value(); });
}

bool isMeasured(const QualityPairRequest& request, Side side) {
    return wants(request, side) && request.referenceFrameIndex.has_value();
}

// The results of a full-stream run, written by the decoders of both sides. Every write holds
// the lock, and whoever is told of a recorded picture is told under it, so that a listener
// reading the results never sees half a side and two listeners never overlap.
class SharedPairResults {
public:
    using Listener = std::function<void(std::int64_t)>;

    SharedPairResults(std::map<std::int64_t, QualityPairResult>& results, Listener onRecorded)
        : results_(results), onRecorded_(std::move(onRecorded)) {}

    // Changes the result of `request` and tells the listener.
    template <typename Change>
    void record(const QualityPairRequest& request, Change&& change) {
        const std::scoped_lock lock(mutex_);
        change(resultFor(results_, request));
        if (onRecorded_) {
            onRecorded_(request.frameIndex);
        }
    }

    // Changes results already reported without telling anyone: the late VMAF scores.
    template <typename Change>
    void amend(Change&& change) {
        const std::scoped_lock lock(mutex_);
        change(results_);
    }

private:
    std::mutex mutex_;
    std::map<std::int64_t, QualityPairResult>& results_;
    Listener onRecorded_;
};

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
// The measuring happens outside the results' lock; only storing it holds the lock.
class FullStreamSideMeasurer {
public:
    FullStreamSideMeasurer(const domain::ReferenceYuvSource& reference,
                           const std::map<std::int64_t, QualityPairRequest>& requests, SharedPairResults& results,
                           Side side)
        : reference_(reference), requests_(requests), results_(results), side_(side),
          fedRange_(fedRangeOf(requests, side)), sequence_(qualityRunVmafOptions()) {}

    void onPicture(const domain::PictureInfo& picture, const domain::VideoFrame& frame) {
        const std::int64_t frameIndex = picture.displayIndex;
        const auto found = requests_.find(frameIndex);
        const bool measured = found != requests_.end() && isMeasured(found->second, side_);
        if (!measured && !fedRange_.contains(frameIndex)) {
            return;
        }
        const ReferenceYuvReadStatus read =
            readReferenceYuvFrameInto(reference_, frameIndex, referenceFrame_, referenceScratch_);
        if (!read.loaded) {
            if (measured) {
                results_.record(found->second, [&](QualityPairResult& result) {
                    failSide(result, side_, QualityMetricStatus::MissingReferenceFrame, read.message);
                });
            }
            return;
        }
        sequence_.add(frameIndex, referenceFrame_, frame);
        if (measured) {
            MeasuredQualitySide measuredSide = measureQualityPair(referenceFrame_, frame);
            measuredSide.metrics.vmaf.message = kVmafPendingMessage;
            results_.record(found->second, [&](QualityPairResult& result) {
                storeMeasurement(result, side_, std::move(measuredSide));
            });
            scored_.insert(frameIndex);
        }
    }

    // Scores the sequence and gives each measured pair its VMAF record.
    void finish() {
        sequence_.finish();
        results_.amend([this](std::map<std::int64_t, QualityPairResult>& results) {
            for (const std::int64_t frameIndex : scored_) {
                std::optional<FrameQualityMetrics>& metrics = metricsOf(results.at(frameIndex), side_);
                if (metrics) {
                    metrics->vmaf = sequence_.result(frameIndex);
                }
            }
        });
    }

private:
    const domain::ReferenceYuvSource& reference_;
    const std::map<std::int64_t, QualityPairRequest>& requests_;
    SharedPairResults& results_;
    Side side_;
    FedRange fedRange_;
    VmafSequence sequence_;
    std::set<std::int64_t> scored_;
    // One reference frame's storage, refilled for every picture.
    domain::VideoFrame referenceFrame_;
    std::vector<std::uint8_t> referenceScratch_;
};

// Gives every wanted side of this stream that has no metrics yet the same failure.
void failUnmeasuredSides(const std::map<std::int64_t, QualityPairRequest>& requests, SharedPairResults& results,
                         Side side, std::string_view message, bool overwrite) {
    for (const auto& [frameIndex, request] : requests) {
        if (!wants(request, side)) {
            continue;
        }
        results.record(request, [&](QualityPairResult& result) {
            if (overwrite || !metricsOf(result, side)) {
                failSide(result, side, QualityMetricStatus::MissingEncodedFrame, message);
            }
        });
    }
}

void decodeSide(const std::filesystem::path& path, Side side, const domain::ReferenceYuvSource& reference,
                const std::map<std::int64_t, QualityPairRequest>& requests, SharedPairResults& results,
                const QualityCancelFlag& cancel) {
    FFmpegResult<FFmpegVideoSource> source = FFmpegVideoSource::open(path);
    if (!source.ok()) {
        failUnmeasuredSides(requests, results, side, source.error().detail, true);
        return;
    }
    FullStreamSideMeasurer measurer(reference, requests, results, side);
    const auto onPicture = [&measurer](FFmpegDecodedPicture picture) {
        measurer.onPicture(picture.picture, picture.frame);
    };
    const FFmpegResult<FFmpegDecodeSummary> decoded =
        source.value().decodeSequentially(onPicture, [&cancel] { return isCanceled(cancel); });
    measurer.finish();
    if (!decoded.ok()) {
        failUnmeasuredSides(requests, results, side, decoded.error().detail, false);
    }
}

// Hands pairs over in ascending frame index as soon as the pair and every pair before it
// have all their wanted sides; called with the results' lock held.
class InOrderPairReporter {
public:
    InOrderPairReporter(const std::map<std::int64_t, QualityPairRequest>& requests,
                        const std::map<std::int64_t, QualityPairResult>& results, const QualityCancelFlag& cancel,
                        const QualityPairCallback& onResult)
        : requests_(requests), results_(results), next_(results.begin()), cancel_(cancel), onResult_(onResult) {}

    void reportCompletedPairs() {
        while (next_ != results_.end() && allWantedSidesMeasured(requests_.at(next_->first), next_->second)) {
            if (isCanceled(cancel_)) {
                return;
            }
            if (onResult_) {
                onResult_(next_->second);
            }
            ++next_;
        }
    }

private:
    const std::map<std::int64_t, QualityPairRequest>& requests_;
    const std::map<std::int64_t, QualityPairResult>& results_;
    std::map<std::int64_t, QualityPairResult>::const_iterator next_;
    const QualityCancelFlag& cancel_;
    const QualityPairCallback& onResult_;
};

// Decodes B on a thread of its own while the calling thread decodes A; anything B's thread
// throws is thrown again here once both have ended.
void decodeBothSides(const QualityAnalysisInput& input, const std::map<std::int64_t, QualityPairRequest>& requests,
                     SharedPairResults& results, const QualityCancelFlag& cancel) {
    std::exception_ptr failureOfB;
    std::jthread sideB;
    if (input.streamBPath) {
        sideB = std::jthread([&] {
            try {
                decodeSide(*input.streamBPath, Side::B, input.reference, requests, results, cancel);
            } catch (...) {
                failureOfB = std::current_exception();
            }
        });
    }
    if (input.streamAPath) {
        decodeSide(*input.streamAPath, Side::A, input.reference, requests, results, cancel);
    }
    if (sideB.joinable()) {
        sideB.join();
    }
    if (failureOfB) {
        std::rethrow_exception(failureOfB);
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
            failWantedSides(request, result, QualityMetricStatus::MissingReferenceFrame, kReferenceIndexOutsideRange);
        }
        // A side without a stream is known to be missing now, not only when the other side ends.
        const std::optional<std::filesystem::path>* paths[] = {&input.streamAPath, &input.streamBPath};
        for (const Side side : kSides) {
            if (wants(request, side) && !metricsOf(result, side) && !*paths[static_cast<std::size_t>(side)]) {
                failSide(result, side, QualityMetricStatus::MissingEncodedFrame, textsOf(side).notProduced);
            }
        }
    }
    InOrderPairReporter reporter(requests, results, cancel, onResult);
    reporter.reportCompletedPairs();
    SharedPairResults shared(results, [&reporter](std::int64_t) { reporter.reportCompletedPairs(); });
    if (!isCanceled(cancel)) {
        decodeBothSides(input, requests, shared, cancel);
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
                          std::map<std::int64_t, QualityPairResult>& results, const QualityCancelFlag& cancel,
                          const std::function<void(std::int64_t)>& onMeasured) {
    SharedPairResults shared(results, onMeasured);
    decodeSide(path, sideOf(isA), reference, requests, shared, cancel);
}

}  // namespace vexilo::media
