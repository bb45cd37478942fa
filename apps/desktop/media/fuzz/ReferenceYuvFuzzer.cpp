// Feeds arbitrary reference-YUV metadata and file contents to the metadata check and the
// frame reader; both must answer with a result record whatever they are given.
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/media/ReferenceYuv.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using vexilo::domain::ReferenceYuvLayout;
using vexilo::domain::ReferenceYuvSource;

// Small sizes most of the time, so that the file can hold whole frames; any value sometimes.
std::int32_t pickDimension(FuzzedDataProvider& input) {
    return input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int32_t>(-2, 48)
                               : input.ConsumeIntegral<std::int32_t>();
}

std::int64_t pickFrameNumber(FuzzedDataProvider& input) {
    return input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int64_t>(-1, 4)
                               : input.ConsumeIntegral<std::int64_t>();
}

const fs::path& scratchFile() {
    static const fs::path path =
        fs::temp_directory_path() / ("vexilo-fuzz-reference-" + std::to_string(::getpid()) + ".yuv");
    return path;
}

enum class PathKind : std::uint8_t { File, Missing, Directory, Empty };

fs::path preparePath(PathKind kind, const std::string& content) {
    switch (kind) {
        case PathKind::File: {
            std::ofstream file(scratchFile(), std::ios::binary | std::ios::trunc);
            file.write(content.data(), static_cast<std::streamsize>(content.size()));
            return scratchFile();
        }
        case PathKind::Missing:
            return scratchFile().string() + ".missing";
        case PathKind::Directory:
            return fs::temp_directory_path();
        case PathKind::Empty:
            break;
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ReferenceYuvSource source;
    source.width = pickDimension(input);
    source.height = pickDimension(input);
    source.layout = static_cast<ReferenceYuvLayout>(input.ConsumeIntegral<std::uint8_t>());
    source.colourRange = static_cast<vexilo::domain::ColourRange>(input.ConsumeIntegral<std::uint8_t>());
    source.frameOffset = pickFrameNumber(input);
    const std::int64_t frameIndex = pickFrameNumber(input);
    const auto pathKind = static_cast<PathKind>(input.ConsumeIntegralInRange<std::uint8_t>(0, 3));
    source.path = preparePath(pathKind, input.ConsumeRemainingBytesAsString());

    const auto validation = vexilo::media::validateReferenceYuvMetadata(source);
    if (validation.message.empty() || validation.valid != validation.matchedFrameCount.has_value()) {
        std::abort();
    }
    const auto read = vexilo::media::readReferenceYuvFrame(source, frameIndex);
    if (read.loaded != read.frame.has_value() || read.message.empty()) {
        std::abort();
    }
    if (read.frame) {
        // A frame the reader produced must be measurable against itself without complaint.
        const auto metrics = vexilo::media::computeFrameQualityMetrics(*read.frame, *read.frame);
        if (metrics.all.status != vexilo::media::QualityMetricStatus::Available) {
            std::abort();
        }
        static_cast<void>(vexilo::media::computeRegionalQualityMetrics(*read.frame, *read.frame, 4));
    }
    return 0;
}
