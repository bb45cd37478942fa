// Valid streams that FFmpeg's HEVC decoder refuses are told apart from damaged ones by their own
// SPS; FFmpeg's log says why it refuses them, its header trace what their SPS holds.
#include "vexilo/ffmpeg_handles/FFmpegHandles.h"
#include "vexilo/ffmpeg_handles/HevcDecoderLimits.h"

#include "ffmpeg_tools.h"
#include "stream_patch.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vexilo::ffmpeg {
namespace {

using hevc::test::DeepSampleStream;

// The first video stream's probed parameters, as both programs open a stream.
struct ProbedStream {
    FormatContextPtr format;
    const AVCodecParameters* parameters = nullptr;
};

ProbedStream probe(const std::filesystem::path& path)
{
    ProbedStream probed;
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.string().c_str(), nullptr, nullptr) < 0) {
        return probed;
    }
    probed.format.reset(opened);
    if (avformat_find_stream_info(opened, nullptr) < 0) {
        return probed;
    }
    const int stream = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream >= 0) {
        probed.parameters = opened->streams[stream]->codecpar;
    }
    return probed;
}

std::string tracedBitDepths(const std::filesystem::path& path)
{
    const auto luma = hevc::test::ffmpegTracedValue(path, "bit_depth_luma_minus8");
    const auto chroma = hevc::test::ffmpegTracedValue(path, "bit_depth_chroma_minus8");
    if (!luma || !chroma) {
        return "no SPS in the header trace";
    }
    return "bitDepthLuma=" + std::to_string(*luma + 8) + "; bitDepthChroma=" + std::to_string(*chroma + 8);
}

// What FFmpeg's decoder logs when it refuses the stream's SPS.
const char* refusalLoggedFor(const DeepSampleStream& stream)
{
    return stream.depths.luma == stream.depths.chroma ? "The following bit-depths are currently specified"
                                                      : "is different from chroma bit depth";
}

class RefusedDepths : public ::testing::TestWithParam<DeepSampleStream> {};

TEST_P(RefusedDepths, AreToldFromTheStreamsOwnSps)
{
    QTemporaryDir directory;
    const std::filesystem::path path = writeDeepSampleStream(GetParam(), directory.path().toStdString());
    ASSERT_NE(hevc::test::ffmpegDecodeLog(path).find(refusalLoggedFor(GetParam())), std::string::npos);

    const ProbedStream probed = probe(path);
    ASSERT_NE(probed.parameters, nullptr);
    const std::optional<UndecodableHevcFormat> format = findUndecodableHevcFormat(*probed.parameters);
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(format->detail(), tracedBitDepths(path));
    EXPECT_NE(format->reason.find("not decoded by this build's FFmpeg"), std::string_view::npos) << format->reason;
}

INSTANTIATE_TEST_SUITE_P(DeepSamples, RefusedDepths, ::testing::ValuesIn(hevc::test::deepSampleStreams()),
                         [](const ::testing::TestParamInfo<hevc::test::DeepSampleStream>& testCase) {
                             return std::string(testCase.param.name);
                         });

// The same SPS in an MP4's configuration record: NAL units behind 16-bit lengths in arrays.
std::vector<std::uint8_t> configurationRecordOf(const std::vector<std::uint8_t>& sps)
{
    std::vector<std::uint8_t> record(23, 0);
    record[0] = 1;     // configurationVersion
    record[21] = 3;    // lengthSizeMinusOne
    record[22] = 1;    // numOfArrays
    record.insert(record.end(), {33, 0, 1, static_cast<std::uint8_t>(sps.size() >> 8U),
                                 static_cast<std::uint8_t>(sps.size() & 0xFFU)});
    record.insert(record.end(), sps.begin(), sps.end());
    return record;
}

TEST(RefusedDepths, AreToldFromAConfigurationRecordToo)
{
    QTemporaryDir directory;
    const std::filesystem::path path =
        writeDeepSampleStream(hevc::test::deepSampleStreams().front(), directory.path().toStdString());
    const ProbedStream probed = probe(path);
    ASSERT_NE(probed.parameters, nullptr);
    const std::span<const std::uint8_t> extradata(probed.parameters->extradata,
                                                  static_cast<std::size_t>(probed.parameters->extradata_size));
    const std::optional<hevc::NalUnitSpan> sps = hevc::test::firstNalUnitOfType(extradata, hevc::SPS_NUT);
    ASSERT_TRUE(sps.has_value());
    const auto unit = extradata.subspan(sps->offset, sps->size);
    const std::optional<UndecodableHevcFormat> format =
        findUndecodableHevcFormat(configurationRecordOf({unit.begin(), unit.end()}));
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(format->detail(), tracedBitDepths(path));
}

TEST(DecodedDepths, AreLeftToFfmpeg)
{
    for (const std::filesystem::path& path :
         {std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm" / "s30_444_12_intra_rext.bit",
          std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / "main_420_8bit_gop8.mp4",
          std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / "mono_400_8bit_no_sao.hevc"}) {
        const ProbedStream probed = probe(path);
        ASSERT_NE(probed.parameters, nullptr) << path;
        EXPECT_FALSE(findUndecodableHevcFormat(*probed.parameters).has_value()) << path;
        const std::span<const std::uint8_t> extradata(probed.parameters->extradata,
                                                      static_cast<std::size_t>(probed.parameters->extradata_size));
        EXPECT_FALSE(findUndecodableHevcFormat(extradata).has_value()) << path;
    }
}

}  // namespace
}  // namespace vexilo::ffmpeg
