#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"
#include "vexilo/protocol/StructureStart.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vexilo::analyzer {

// Which syntax events the decoder reports; the values travel to the decoder observer.
enum class AnalysisMode : std::int32_t {
    StreamIndex = 0,
    PictureStructure = 1,
    BoundedStructure = 2,
};

// The outcome of one analysis run: exactly one of succeeded, canceled, or failed (error part set).
struct AnalyzerRunResult {
    bool succeeded = false;
    bool canceled = false;
    // Probe part.
    std::filesystem::path inputPath;
    std::string codecName;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitDepth = 0;
    std::string pixelFormat;
    std::int64_t pictureCount = -1;
    std::filesystem::path metadataPath;
    // Sizes of the document collections.
    std::uint64_t nalUnitCount = 0;
    std::uint64_t parameterSetCount = 0;
    std::uint64_t seiMessageCount = 0;
    std::uint64_t sliceCount = 0;
    std::uint64_t shortTermReferenceCount = 0;
    std::uint64_t longTermReferenceCount = 0;
    std::uint64_t referenceListEntryCount = 0;
    std::uint64_t dpbSnapshotEntryCount = 0;
    std::uint64_t decodedPictureCount = 0;
    std::uint64_t ctuCount = 0;
    std::uint64_t cuCount = 0;
    std::uint64_t puCount = 0;
    std::uint64_t tuCount = 0;
    std::uint64_t motionVectorCount = 0;
    // Pictures of the document that hold their coding blocks (all of them: never a part).
    std::uint64_t picturesWithBlocks = 0;
    // Packets read from the container (every stream) and those of the video stream given to the decoder.
    std::uint64_t packetsRead = 0;
    std::uint64_t packetsSent = 0;
    // Error part.
    std::string code;
    std::string message;
    std::string detail;
    std::int32_t ffmpegCode = 0;
};

// Asks a running analysis to stop. A user's cancel lets the blocks pass keep the pictures it has
// made whole; a worker that is going away (shutdown, input or parent gone) must not spend its
// last seconds writing pictures that nothing will read, so it stops at once.
struct CancelRequest {
    std::atomic<bool> requested{false};
    std::atomic<bool> keepCompletePictures{true};
};

// The picture a single-picture analysis is after, and where the desktop says its decode may
// take the stream up (used only over a complete cache of the same content).
struct PictureTarget {
    PictureTarget(std::uint64_t picture = 0,  // NOLINT(google-explicit-constructor)
                  std::optional<protocol::StructureStart> startPoint = std::nullopt)
        : decodePictureId(picture), start(std::move(startPoint))
    {
    }

    std::uint64_t decodePictureId = 0;
    std::optional<protocol::StructureStart> start;
};

// Receives every output picture; returning false stops the analysis.
using FrameSink = std::function<bool(domain::PictureInfo, domain::VideoFrame)>;

// The outcome of a run whose frames did not all reach the desktop: the same failure as a frame
// the sink refuses while decoding, for frames that were still on their way when the run ended.
[[nodiscard]] AnalyzerRunResult frameDeliveryFailed(const std::filesystem::path& inputPath);

// The whole analysis of one input: fingerprint, decode through the observer, build, validate
// and write the analysis cache. Never throws for FFmpeg or cache failures.
AnalyzerRunResult analyzeHevcToMetadata(const std::filesystem::path& inputPath,
                                        const std::filesystem::path& cacheRoot,
                                        const CancelRequest& cancelRequest, AnalysisMode mode,
                                        const PictureTarget& target, FrameSink frameSink);

// The shape of `analyzeHevcToMetadata`, so the task thread can run another analysis in tests.
using AnalysisPipeline =
    std::function<AnalyzerRunResult(const std::filesystem::path&, const std::filesystem::path&,
                                    const CancelRequest&, AnalysisMode, const PictureTarget&, FrameSink)>;

}  // namespace vexilo::analyzer
