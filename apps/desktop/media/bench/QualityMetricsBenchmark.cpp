// Measures PSNR, SSIM and MSE of three planes over 1080p 8-bit and 10-bit frame pairs with
// the metrics engine, and ffmpeg's psnr and ssim filters over the same raw files in the same
// run, and prints both as frames per second and their time ratio (goal: at most 1.0, not
// slower than ffmpeg). Both sides count user CPU time without reading the frames: ours on
// frames already in memory, ffmpeg's as its run with both filters minus the same run with
// pass-through filters.
// It also times reading the reference frames into one reused frame, per 1080p frame, beside
// `cat FILE > /dev/null` over the same file (goal: at most 2 ms per 10-bit frame).
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/media/ReferenceYuv.h"

#include <cstdio>
#include <vector>

namespace {

using namespace vexilo::media;
namespace bench = vexilo::bench;
using vexilo::domain::ReferenceYuvLayout;
using vexilo::domain::VideoFrame;

constexpr int kFrames = 30;
constexpr int kRuns = 5;
constexpr double kGoalRatio = 1.0;
constexpr double kReadGoalMs = 2.0;
constexpr const char* kFrameSize = "1920x1080";

struct DepthCase {
    const char* label;
    const char* pixelFormat;
    ReferenceYuvLayout layout;
};

vexilo::domain::ReferenceYuvSource fullHdSource(const std::filesystem::path& path, ReferenceYuvLayout layout) {
    vexilo::domain::ReferenceYuvSource source;
    source.path = path;
    source.width = 1920;
    source.height = 1080;
    source.layout = layout;
    return source;
}

std::vector<VideoFrame> readAllFrames(const std::filesystem::path& path, ReferenceYuvLayout layout) {
    const vexilo::domain::ReferenceYuvSource source = fullHdSource(path, layout);
    std::vector<VideoFrame> frames;
    for (std::int64_t k = 0; k < kFrames; ++k) {
        ReferenceYuvFrameResult result = readReferenceYuvFrame(source, k);
        if (result.frame) {
            frames.push_back(std::move(*result.frame));
        }
    }
    return frames;
}

// Wall-clock seconds to read every frame of the file into one reused frame, best of the
// runs; the file is in the page cache after the first, as it is for `cat`.
double reusedFrameReadSeconds(const std::filesystem::path& path, ReferenceYuvLayout layout, bool& failed) {
    const vexilo::domain::ReferenceYuvSource source = fullHdSource(path, layout);
    VideoFrame frame;
    std::vector<std::uint8_t> scratch;
    return bench::bestSecondsOf(kRuns, [&] {
        for (std::int64_t k = 0; k < kFrames; ++k) {
            failed = !readReferenceYuvFrameInto(source, k, frame, scratch).loaded || failed;
        }
    });
}

std::string ffmpegFilterCommand(const DepthCase& depth, const std::filesystem::path& distorted,
                                const std::filesystem::path& reference, const std::string& graph,
                                const std::string& outputMaps) {
    const std::string input = std::string("-f rawvideo -pix_fmt ") + depth.pixelFormat + " -s " + kFrameSize + " -i ";
    return "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -filter_threads 1 " + input +
           bench::quoted(distorted) + " " + input + bench::quoted(reference) + " -lavfi '" + graph + "' " + outputMaps + " -f null -";
}

bool benchmarkDepth(const DepthCase& depth) {
    const auto directory = bench::benchMediaDirectory();
    const auto reference = directory / (std::string("metrics_reference_") + depth.pixelFormat + ".yuv");
    const auto distorted = directory / (std::string("metrics_distorted_") + depth.pixelFormat + ".yuv");
    const std::string source = std::string("-f lavfi -i testsrc2=size=") + kFrameSize + ":rate=25 -frames:v " +
                               std::to_string(kFrames);
    if (!bench::ensureGenerated(reference, source + " -pix_fmt " + depth.pixelFormat + " -f rawvideo") ||
        !bench::ensureGenerated(distorted, source + " -vf noise=alls=12:allf=t -pix_fmt " + depth.pixelFormat +
                                               " -f rawvideo")) {
        return false;
    }
    const std::vector<VideoFrame> referenceFrames = readAllFrames(reference, depth.layout);
    const std::vector<VideoFrame> distortedFrames = readAllFrames(distorted, depth.layout);
    if (referenceFrames.size() != kFrames || distortedFrames.size() != kFrames) {
        std::fprintf(stderr, "%s: reference frames could not be read\n", depth.label);
        return false;
    }

    double checksum = 0.0;
    const double ours = bench::bestOf(kRuns, [&] {
        return bench::ownUserSecondsOf([&] {
            for (std::size_t k = 0; k < referenceFrames.size(); ++k) {
                const FrameQualityMetrics metrics = computeFrameQualityMetrics(referenceFrames[k], distortedFrames[k]);
                checksum += metrics.all.psnr.value_or(0.0) + metrics.all.ssim.value_or(0.0) + metrics.all.mse.value_or(0.0);
            }
        });
    });
    bool failed = false;
    const auto timeFfmpeg = [&](const std::string& graph, const std::string& outputMaps) {
        const std::string command = ffmpegFilterCommand(depth, distorted, reference, graph, outputMaps);
        return bench::bestOf(kRuns, [&] { return bench::childUserSecondsOf(command, failed); });
    };
    const double ffmpegWithFilters = timeFfmpeg("[0:v]split[d1][d2];[1:v]split[r1][r2];[d1][r1]psnr;[d2][r2]ssim", "");
    const double ffmpegPassThrough = timeFfmpeg("[0:v]null[d];[1:v]null[r]", "-map '[d]' -map '[r]'");
    if (failed) {
        std::fprintf(stderr, "%s: ffmpeg failed\n", depth.label);
        return false;
    }
    const double ffmpeg = ffmpegWithFilters - ffmpegPassThrough;
    const double ratio = ours / ffmpeg;
    std::printf("PSNR+SSIM+MSE, 3 planes, %d frame pairs 1080p %s (checksum %.3f)\n", kFrames, depth.label, checksum);
    std::printf("  computeFrameQualityMetrics:  %7.1f frames/s (%.3f s CPU, %.2f ms/pair)\n", kFrames / ours, ours,
                1000.0 * ours / kFrames);
    std::printf("  ffmpeg psnr + ssim filters:  %7.1f frames/s (%.3f s CPU, %.2f ms/pair; run %.3f s minus "
                "pass-through %.3f s)\n",
                kFrames / ffmpeg, ffmpeg, 1000.0 * ffmpeg / kFrames, ffmpegWithFilters, ffmpegPassThrough);
    std::printf("  ratio: %.3f (goal <= %.1f) %s\n", ratio, kGoalRatio, ratio <= kGoalRatio ? "met" : "NOT met");

    const double reading = reusedFrameReadSeconds(reference, depth.layout, failed);
    const double cat = bench::bestSecondsOf(kRuns, [&] {
        failed = !bench::runQuietly("cat " + bench::quoted(reference) + " > /dev/null") || failed;
    });
    if (failed) {
        std::fprintf(stderr, "%s: reading the reference failed\n", depth.label);
        return false;
    }
    std::printf("Reference frame read, 1080p %s, %d frames from the page cache\n", depth.label, kFrames);
    std::printf("  readReferenceYuvFrameInto:   %.2f ms/frame (goal <= %.1f)\n", 1000.0 * reading / kFrames,
                kReadGoalMs);
    std::printf("  cat FILE > /dev/null:        %.2f ms/frame\n", 1000.0 * cat / kFrames);
    return true;
}

}  // namespace

int main() {
    const DepthCase depths[] = {{"8-bit", "yuv420p", ReferenceYuvLayout::I420},
                                {"10-bit", "yuv420p10le", ReferenceYuvLayout::I010}};
    bool ok = true;
    for (const DepthCase& depth : depths) {
        ok = benchmarkDepth(depth) && ok;
    }
    return ok ? 0 : 1;
}
