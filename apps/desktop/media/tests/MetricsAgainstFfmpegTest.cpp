#include "TestSupport.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/media/ReferenceYuv.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace vexilo::media {
namespace {

namespace fs = std::filesystem;
using domain::ReferenceYuvLayout;

// The psnr filter hands its values over as floats and prints them with six decimals, so
// ours must agree once brought to float precision.
void expectSameAsPrinted(double ours, double printed, const std::string& what) {
    EXPECT_FLOAT_EQ(static_cast<float>(ours), static_cast<float>(printed)) << what;
}

using FfmpegFrameMetrics = std::map<std::string, double>;

// The psnr filter's per-frame values ("mse.y", "psnr_avg", ...), in display order.
std::vector<FfmpegFrameMetrics> ffmpegPsnr(const fs::path& encoded, const fs::path& reference,
                                           const std::string& pixelFormat) {
    std::istringstream lines(test::runCommand(
        "ffmpeg -hide_banner -loglevel error -nostdin -i " + test::shellQuoted(encoded) +
        " -f rawvideo -pix_fmt " + pixelFormat + " -s 176x144 -i " + test::shellQuoted(reference) +
        " -lavfi '[0:v][1:v]psnr,metadata=mode=print:file=-' -f null -"));
    const std::string prefix = "lavfi.psnr.";
    std::vector<FfmpegFrameMetrics> frames;
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("frame:", 0) == 0) {
            frames.emplace_back();
        } else if (line.rfind(prefix, 0) == 0 && !frames.empty()) {
            const std::size_t equals = line.find('=');
            frames.back()[line.substr(prefix.size(), equals - prefix.size())] = std::stod(line.substr(equals + 1));
        }
    }
    return frames;
}

std::vector<domain::VideoFrame> decodeFrames(const fs::path& path) {
    std::vector<domain::VideoFrame> frames;
    auto source = FFmpegVideoSource::open(path);
    EXPECT_TRUE(source.ok());
    if (source.ok()) {
        EXPECT_TRUE(source.value()
                        .decodeSequentially(
                            [&frames](FFmpegDecodedPicture picture) { frames.push_back(std::move(picture.frame)); }, {})
                        .ok());
    }
    return frames;
}

domain::ReferenceYuvSource referenceSource(fs::path path, ReferenceYuvLayout layout) {
    domain::ReferenceYuvSource source;
    source.path = std::move(path);
    source.width = 176;
    source.height = 144;
    source.layout = layout;
    return source;
}

struct FfmpegComparisonCase {
    const char* name;
    const char* encoded;
    const char* reference;
    ReferenceYuvLayout layout;
    const char* pixelFormat;
};

class AgainstFfmpegPsnr : public testing::TestWithParam<FfmpegComparisonCase> {};

TEST_P(AgainstFfmpegPsnr, MseAndPsnrPerPlaneAndAllMatchToThePrintedPrecision) {
    const FfmpegComparisonCase& c = GetParam();
    const std::vector<domain::VideoFrame> decoded = decodeFrames(test::mediaPath(c.encoded));
    const std::vector<FfmpegFrameMetrics> expected =
        ffmpegPsnr(test::mediaPath(c.encoded), test::mediaPath(c.reference), c.pixelFormat);
    ASSERT_EQ(decoded.size(), expected.size());
    ASSERT_FALSE(decoded.empty());
    const domain::ReferenceYuvSource source = referenceSource(test::mediaPath(c.reference), c.layout);
    for (std::size_t k = 0; k < decoded.size(); ++k) {
        const ReferenceYuvFrameResult reference = readReferenceYuvFrame(source, static_cast<std::int64_t>(k));
        ASSERT_TRUE(reference.loaded) << reference.message;
        const FrameQualityMetrics metrics = computeFrameQualityMetrics(*reference.frame, decoded[k]);
        const std::pair<const char*, const PlaneQualityMetrics*> planes[] = {
            {"y", &metrics.y}, {"u", &metrics.u}, {"v", &metrics.v}};
        for (const auto& [plane, values] : planes) {
            const std::string frame = "frame " + std::to_string(k) + " plane " + plane;
            expectSameAsPrinted(*values->mse, expected[k].at(std::string("mse.") + plane), frame);
            expectSameAsPrinted(*values->psnr, expected[k].at(std::string("psnr.") + plane), frame);
        }
        expectSameAsPrinted(*metrics.all.mse, expected[k].at("mse_avg"), "frame " + std::to_string(k));
        expectSameAsPrinted(*metrics.all.psnr, expected[k].at("psnr_avg"), "frame " + std::to_string(k));
    }
}

INSTANTIATE_TEST_SUITE_P(
    QualityMetrics, AgainstFfmpegPsnr,
    testing::Values(FfmpegComparisonCase{"EightBit", "quality_low.hevc", "quality_reference_176x144.yuv",
                                         ReferenceYuvLayout::I420, "yuv420p"},
                    FfmpegComparisonCase{"TenBit", "main10_420_10bit.hevc", "reference_176x144_10bit.yuv",
                                         ReferenceYuvLayout::I010, "yuv420p10le"}),
    test::CaseName());

struct SsimComparisonCase {
    const char* name;
    const char* pixelFormat;
    ReferenceYuvLayout layout;
    std::int32_t width = 174;
    std::int32_t height = 102;
    int frames = 4;
};

// The ssim filter's per-frame "Y", "U", "V" and "All" values as its stats file prints them.
// The filter runs its scalar code: on x86 its vector end-of-row step scores the last window of
// an 8-bit row of 4k + 1 windows with what another plane left behind, so there its figure does
// not follow from the two planes compared.
std::vector<FfmpegFrameMetrics> ffmpegSsim(const fs::path& encoded, const fs::path& reference,
                                           const std::string& pixelFormat, const std::string& size,
                                           const fs::path& statsFile) {
    test::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -cpuflags 0 -i " + test::shellQuoted(encoded) +
                     " -f rawvideo -pix_fmt " + pixelFormat + " -s " + size + " -i " + test::shellQuoted(reference) +
                     " -lavfi '[0:v][1:v]ssim=stats_file=" + statsFile.string() + "' -f null -");
    std::ifstream lines(statsFile);
    std::vector<FfmpegFrameMetrics> frames;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        FfmpegFrameMetrics frame;
        std::string field;
        while (fields >> field) {
            const std::size_t colon = field.find(':');
            if (colon != std::string::npos && field.rfind("n:", 0) != 0) {
                frame[field.substr(0, colon)] = std::stod(field.substr(colon + 1));
            }
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

class AgainstFfmpegSsim : public testing::TestWithParam<SsimComparisonCase> {};

// A strongly compressed encode of a detailed clip, at a size that is no multiple of the
// 4-sample window grid, so that edges and chroma subsampling both count. The odd sizes give
// planes (odd chroma of 4:2:0 and 4:2:2, odd 4:4:4) whose rows hold 4k + 1 windows.
TEST_P(AgainstFfmpegSsim, PlaneAndAllSsimMatchItsStatsFile) {
    const SsimComparisonCase& c = GetParam();
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    test::ScratchDirectory directory;
    const fs::path reference = directory.file("reference.yuv");
    const fs::path encoded = directory.file("encoded.hevc");
    test::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -f lavfi -i mandelbrot=size=" + size +
                     ":rate=25 -frames:v " + std::to_string(c.frames) + " -pix_fmt " + c.pixelFormat + " -f rawvideo " +
                     test::shellQuoted(reference));
    test::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -f rawvideo -pix_fmt " +
                     std::string(c.pixelFormat) + " -s " + size + " -i " + test::shellQuoted(reference) +
                     " -c:v libx265 -x265-params log-level=error:crf=38:bframes=0 -f hevc " +
                     test::shellQuoted(encoded));
    const std::vector<domain::VideoFrame> decoded = decodeFrames(encoded);
    const std::vector<FfmpegFrameMetrics> expected =
        ffmpegSsim(encoded, reference, c.pixelFormat, size, directory.file("ssim.log"));
    ASSERT_EQ(decoded.size(), expected.size());
    ASSERT_FALSE(decoded.empty());
    domain::ReferenceYuvSource source = referenceSource(reference, c.layout);
    source.width = c.width;
    source.height = c.height;
    for (std::size_t k = 0; k < decoded.size(); ++k) {
        const ReferenceYuvFrameResult referenceFrame = readReferenceYuvFrame(source, static_cast<std::int64_t>(k));
        ASSERT_TRUE(referenceFrame.loaded) << referenceFrame.message;
        const FrameQualityMetrics metrics = computeFrameQualityMetrics(*referenceFrame.frame, decoded[k]);
        const std::pair<const char*, const PlaneQualityMetrics*> planes[] = {
            {"Y", &metrics.y}, {"U", &metrics.u}, {"V", &metrics.v}, {"All", &metrics.all}};
        for (const auto& [plane, values] : planes) {
            ASSERT_TRUE(values->ssim) << plane;
            EXPECT_NEAR(*values->ssim, expected[k].at(plane), 1e-4) << "frame " << k << " plane " << plane;
        }
        // A CRF 38 encode is visibly damaged: the windowed index says so, a global window would not.
        EXPECT_LT(*metrics.y.ssim, 0.99) << "frame " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    QualityMetrics, AgainstFfmpegSsim,
    testing::Values(SsimComparisonCase{"Yuv420EightBit", "yuv420p", ReferenceYuvLayout::I420},
                    SsimComparisonCase{"Yuv422EightBit", "yuv422p", ReferenceYuvLayout::Yuv422P8},
                    SsimComparisonCase{"Yuv444EightBit", "yuv444p", ReferenceYuvLayout::Yuv444P8},
                    SsimComparisonCase{"Yuv420TenBit", "yuv420p10le", ReferenceYuvLayout::I010},
                    SsimComparisonCase{"Yuv422TenBit", "yuv422p10le", ReferenceYuvLayout::Yuv422P10Le},
                    SsimComparisonCase{"Yuv444TenBit", "yuv444p10le", ReferenceYuvLayout::Yuv444P10Le},
                    SsimComparisonCase{"OddChroma420EightBit", "yuv420p", ReferenceYuvLayout::I420, 178, 98, 8},
                    SsimComparisonCase{"OddChroma422EightBit", "yuv422p", ReferenceYuvLayout::Yuv422P8, 178, 98, 8},
                    SsimComparisonCase{"Odd444EightBit", "yuv444p", ReferenceYuvLayout::Yuv444P8, 169, 97, 8},
                    SsimComparisonCase{"Odd444TenBit", "yuv444p10le", ReferenceYuvLayout::Yuv444P10Le, 169, 97, 8}),
    test::CaseName());

// The same 10-bit reference stored as P010 must measure exactly like its I010 form.
TEST(ReferenceYuvP010, MeasuresLikeTheSameFramesStoredAsI010) {
    test::ScratchDirectory directory;
    const fs::path i010 = test::mediaPath("reference_176x144_10bit.yuv");
    const fs::path p010 = directory.file("reference_p010.yuv");
    test::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -f rawvideo -pix_fmt yuv420p10le -s 176x144 -i " +
                     test::shellQuoted(i010) + " -pix_fmt p010le -f rawvideo " + test::shellQuoted(p010));
    const std::vector<domain::VideoFrame> decoded = decodeFrames(test::mediaPath("main10_420_10bit.hevc"));
    ASSERT_FALSE(decoded.empty());
    for (const std::int64_t k : {std::int64_t{0}, static_cast<std::int64_t>(decoded.size() - 1)}) {
        const auto planar = readReferenceYuvFrame(referenceSource(i010, ReferenceYuvLayout::I010), k);
        const auto semiPlanar = readReferenceYuvFrame(referenceSource(p010, ReferenceYuvLayout::P010), k);
        ASSERT_TRUE(planar.loaded && semiPlanar.loaded) << semiPlanar.message;
        EXPECT_EQ(semiPlanar.frame->planes, planar.frame->planes);
        const auto size = static_cast<std::size_t>(k);
        EXPECT_EQ(computeFrameQualityMetrics(*semiPlanar.frame, decoded[size]).all.mse,
                  computeFrameQualityMetrics(*planar.frame, decoded[size]).all.mse);
    }
}

}  // namespace
}  // namespace vexilo::media
