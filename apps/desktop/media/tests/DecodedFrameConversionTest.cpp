#include "TestSupport.h"
#include "vexilo/media/DecodedFrameConversion.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace vexilo::media {
namespace {

using domain::ChromaFormat;
using domain::ColourMatrix;
using domain::ColourRange;

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

const std::filesystem::path kSourcePath = "/clips/source.hevc";

// A frame of the given format whose every byte holds a pattern of its plane, row and column.
FramePtr makeFrame(AVPixelFormat format, int width, int height) {
    FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 64), 0);
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && frame->buf[plane] != nullptr; ++plane) {
        const auto planeIndex = static_cast<std::size_t>(plane);
        for (std::size_t i = 0; i < frame->buf[plane]->size; ++i) {
            frame->buf[plane]->data[i] = static_cast<std::uint8_t>((i * 13 + planeIndex * 71) & 0xFFU);
        }
    }
    return frame;
}

void attachRecord(AVFrame& frame, const PacketIdentityRecord& record, std::size_t size = kPacketIdentityRecordSize) {
    frame.opaque_ref = av_buffer_allocz(size);
    std::memcpy(frame.opaque_ref->data, &record, std::min(size, sizeof(record)));
}

struct GeometryCase {
    const char* name;
    AVPixelFormat format;
    int width;
    int height;
    ChromaFormat chroma;
    std::int32_t bitDepth;
    std::int32_t chromaWidth;
    std::int32_t chromaHeight;
};

class AcceptedFormats : public testing::TestWithParam<GeometryCase> {};

TEST_P(AcceptedFormats, CopyEveryRowIntoTightPlanes) {
    const GeometryCase& c = GetParam();
    FramePtr frame = makeFrame(c.format, c.width, c.height);
    auto converted = convertDecodedFrame(*frame, kSourcePath, 5);
    ASSERT_TRUE(converted.ok()) << converted.error().message;
    const domain::VideoFrame& video = converted.value().frame;
    EXPECT_EQ(video.index, 5);
    EXPECT_EQ(video.width, c.width);
    EXPECT_EQ(video.height, c.height);
    EXPECT_EQ(video.bitDepth, c.bitDepth);
    EXPECT_EQ(video.pixelFormatName, av_get_pix_fmt_name(c.format));
    EXPECT_EQ(video.chromaFormat, c.chroma);
    EXPECT_EQ(video.packedStride, 0);
    EXPECT_TRUE(video.packedData.empty());
    ASSERT_EQ(video.planes.size(), 3U);
    const std::int32_t bytesPerSample = c.bitDepth > 8 ? 2 : 1;
    for (std::size_t plane = 0; plane < 3; ++plane) {
        const domain::VideoPlane& copy = video.planes[plane];
        const std::int32_t width = plane == 0 ? c.width : c.chromaWidth;
        const std::int32_t height = plane == 0 ? c.height : c.chromaHeight;
        EXPECT_EQ(copy.planeIndex, plane);
        EXPECT_EQ(copy.width, width);
        EXPECT_EQ(copy.height, height);
        EXPECT_EQ(copy.bytesPerSample, bytesPerSample);
        EXPECT_EQ(copy.stride, static_cast<std::int64_t>(width) * bytesPerSample);
        ASSERT_EQ(copy.samples.size(), static_cast<std::size_t>(copy.stride * height));
        if (plane > 0 && av_pix_fmt_desc_get(c.format)->nb_components == 1) {
            // Monochrome: chroma is mid grey, not read from the frame.
            const unsigned midGrey = 1U << (c.bitDepth - 1);
            for (std::size_t sample = 0; sample < copy.samples.size(); sample += static_cast<std::size_t>(bytesPerSample)) {
                const unsigned value = bytesPerSample == 1 ? copy.samples[sample]
                                                           : copy.samples[sample] | (copy.samples[sample + 1] << 8U);
                ASSERT_EQ(value, midGrey) << "plane " << plane << " sample " << sample;
            }
            continue;
        }
        const auto rowBytes = static_cast<std::size_t>(copy.stride);
        for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row) {
            const std::uint8_t* source = frame->data[plane] + row * static_cast<std::size_t>(frame->linesize[plane]);
            ASSERT_EQ(std::memcmp(copy.samples.data() + row * rowBytes, source, rowBytes), 0)
                << "plane " << plane << " row " << row;
        }
    }
    const domain::PictureInfo& picture = converted.value().picture;
    EXPECT_EQ(picture.width, c.width);
    EXPECT_EQ(picture.height, c.height);
    EXPECT_EQ(picture.bitDepth, c.bitDepth);
}

INSTANTIATE_TEST_SUITE_P(
    DecodedFrameConversion, AcceptedFormats,
    testing::Values(GeometryCase{"Yuv420p_1080p", AV_PIX_FMT_YUV420P, 1920, 1080, ChromaFormat::Yuv420, 8, 960, 540},
                    GeometryCase{"Yuv420p_Odd", AV_PIX_FMT_YUV420P, 1921, 1081, ChromaFormat::Yuv420, 8, 961, 541},
                    GeometryCase{"Yuv420p10_Width100", AV_PIX_FMT_YUV420P10LE, 100, 6, ChromaFormat::Yuv420, 10, 50,
                                 3},
                    GeometryCase{"Yuv422p_Odd", AV_PIX_FMT_YUV422P, 7, 5, ChromaFormat::Yuv422, 8, 4, 5},
                    GeometryCase{"Yuv422p10", AV_PIX_FMT_YUV422P10LE, 8, 4, ChromaFormat::Yuv422, 10, 4, 4},
                    GeometryCase{"Yuv444p_Odd", AV_PIX_FMT_YUV444P, 177, 97, ChromaFormat::Yuv444, 8, 177, 97},
                    GeometryCase{"Yuv444p10", AV_PIX_FMT_YUV444P10LE, 9, 3, ChromaFormat::Yuv444, 10, 9, 3},
                    GeometryCase{"Yuv420p12", AV_PIX_FMT_YUV420P12LE, 7, 5, ChromaFormat::Yuv420, 12, 4, 3},
                    GeometryCase{"Yuv422p12", AV_PIX_FMT_YUV422P12LE, 8, 4, ChromaFormat::Yuv422, 12, 4, 4},
                    GeometryCase{"Yuv444p12", AV_PIX_FMT_YUV444P12LE, 9, 3, ChromaFormat::Yuv444, 12, 9, 3},
                    GeometryCase{"Gray8_Odd", AV_PIX_FMT_GRAY8, 7, 5, ChromaFormat::Yuv420, 8, 4, 3},
                    GeometryCase{"Gray10", AV_PIX_FMT_GRAY10LE, 8, 4, ChromaFormat::Yuv420, 10, 4, 2},
                    GeometryCase{"Gray12", AV_PIX_FMT_GRAY12LE, 8, 4, ChromaFormat::Yuv420, 12, 4, 2}),
    test::CaseName());

struct RefusalCase {
    const char* name;
    int format;
    int width;
    int height;
    int code;
    const char* detail;
};

class RefusedFrames : public testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedFrames, EndWithTheirError) {
    const RefusalCase& c = GetParam();
    FramePtr frame(av_frame_alloc());
    frame->format = c.format;
    frame->width = c.width;
    frame->height = c.height;
    auto converted = convertDecodedFrame(*frame, kSourcePath, 0);
    ASSERT_FALSE(converted.ok());
    EXPECT_EQ(converted.error().code, c.code);
    EXPECT_EQ(converted.error().path, kSourcePath);
    EXPECT_EQ(converted.error().detail.substr(0, std::strlen(c.detail)), c.detail);
    EXPECT_EQ(converted.error().message.rfind("FFmpeg backend failed for '/clips/source.hevc' (FFmpeg error " +
                                                  std::to_string(c.code) + "): " + c.detail,
                                              0),
              0U)
        << converted.error().message;
}

INSTANTIATE_TEST_SUITE_P(
    DecodedFrameConversion, RefusedFrames,
    testing::Values(
        RefusalCase{"ZeroWidth", AV_PIX_FMT_YUV420P, 0, 4, -1094995529,
                    "Decoder returned a frame with invalid dimensions or pixel format"},
        RefusalCase{"NoFormat", AV_PIX_FMT_NONE, 4, 4, -1094995529,
                    "Decoder returned a frame with invalid dimensions or pixel format"},
        RefusalCase{"Nv12", AV_PIX_FMT_NV12, 4, 4, -1163346256,
                    "Unsupported decoded display pixel format for YUV viewer: nv12"},
        RefusalCase{"Yuv420p16", AV_PIX_FMT_YUV420P16LE, 4, 4, -1163346256,
                    "Unsupported decoded display pixel format for YUV viewer: yuv420p16le"},
        RefusalCase{"NamelessFormat", 100000, 4, 4, -1163346256,
                    "Unsupported decoded display pixel format for YUV viewer: unknown"},
        RefusalCase{"NoPlaneData", AV_PIX_FMT_YUV420P, 4, 4, -1094995529,
                    "Decoder returned an incomplete planar YUV frame"}),
    test::CaseName());

TEST(DecodedFrameConversion, BottomUpFramesAreIncomplete) {
    FramePtr frame = makeFrame(AV_PIX_FMT_YUV420P, 8, 8);
    frame->data[1] += frame->linesize[1] * 3;
    frame->linesize[1] = -frame->linesize[1];
    auto converted = convertDecodedFrame(*frame, kSourcePath, 0);
    ASSERT_FALSE(converted.ok());
    EXPECT_EQ(converted.error().detail.rfind("Decoder returned an incomplete planar YUV frame: ", 0), 0U);
}

TEST(DecodedFrameConversion, CopyDecodedPlaneRefusesWhatItCannotCopySafely) {
    FramePtr frame = makeFrame(AV_PIX_FMT_YUV420P, 8, 8);
    struct Case {
        int plane;
        std::int32_t width, height, bytesPerSample;
    };
    const Case refused[] = {{3, 4, 4, 1}, {-1, 4, 4, 1}, {0, 0, 4, 1}, {0, 4, 0, 1}, {0, 4, 4, 0},
                            {0, frame->linesize[0] + 1, 1, 1}, {0, frame->linesize[0], 1, 2},
                            {0, std::numeric_limits<std::int32_t>::max(), 1, 2}};
    for (const Case& c : refused) {
        EXPECT_FALSE(copyDecodedPlane(*frame, c.plane, 0, c.width, c.height, c.bytesPerSample))
            << c.plane << " " << c.width << "x" << c.height << "x" << c.bytesPerSample;
    }
    const auto copied = copyDecodedPlane(*frame, 0, 9, frame->linesize[0], 2, 1);
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->planeIndex, 9);
}

struct IdentityCase {
    const char* name;
    std::int64_t framePts;
    std::optional<PacketIdentityRecord> record;
    std::size_t recordSize;
    std::optional<std::int64_t> packetIndex;
    std::optional<std::int64_t> decodeIndex;
    std::optional<std::int64_t> pts;
    std::optional<std::int64_t> dts;
};

PacketIdentityRecord record(std::int64_t packetIndex, std::int64_t decodeIndex, std::int64_t pts, std::int64_t dts,
                            std::uint64_t tag = kPacketIdentityTag) {
    return PacketIdentityRecord{tag, packetIndex, decodeIndex, pts, dts};
}

class PacketIdentity : public testing::TestWithParam<IdentityCase> {};

TEST_P(PacketIdentity, IsReadFromTheFramesRecordOnly) {
    const IdentityCase& c = GetParam();
    FramePtr frame = makeFrame(AV_PIX_FMT_YUV420P, 4, 4);
    frame->pts = c.framePts;
    frame->pkt_dts = 999;
    frame->best_effort_timestamp = 998;
    if (c.record) {
        attachRecord(*frame, *c.record, c.recordSize);
    }
    auto converted = convertDecodedFrame(*frame, kSourcePath, 3);
    ASSERT_TRUE(converted.ok());
    const domain::PictureInfo& picture = converted.value().picture;
    EXPECT_EQ(picture.id, 3);
    EXPECT_EQ(picture.displayIndex, 3);
    EXPECT_EQ(picture.packetIndex, c.packetIndex);
    EXPECT_EQ(picture.decodeIndex, c.decodeIndex);
    EXPECT_EQ(picture.pts, c.pts);
    EXPECT_EQ(picture.dts, c.dts);
    EXPECT_FALSE(picture.poc);
}

INSTANTIATE_TEST_SUITE_P(
    DecodedFrameConversion, PacketIdentity,
    testing::Values(
        IdentityCase{"Record", 40, record(7, 5, 80, 20), 40, 7, 5, 40, 20},
        IdentityCase{"LongerBuffer", 40, record(7, 5, 80, 20), 64, 7, 5, 40, 20},
        IdentityCase{"PtsFromRecord", AV_NOPTS_VALUE, record(7, 5, 80, 20), 40, 7, 5, 80, 20},
        IdentityCase{"NoTimestampsAnywhere", AV_NOPTS_VALUE, record(1, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE), 40, 1, 0,
                     std::nullopt, std::nullopt},
        IdentityCase{"NoRecord", 40, std::nullopt, 0, std::nullopt, std::nullopt, 40, std::nullopt},
        IdentityCase{"OtherTag", 40, record(7, 5, 80, 20, 0x1122334455667788ULL), 40, std::nullopt, std::nullopt, 40,
                     std::nullopt},
        IdentityCase{"ShortRecord", AV_NOPTS_VALUE, record(7, 5, 80, 20), 39, std::nullopt, std::nullopt,
                     std::nullopt, std::nullopt}),
    test::CaseName());

TEST(DecodedFrameConversion, MapsPictureTypeRangeAndMatrix) {
    const std::pair<AVPictureType, domain::PictureType> types[] = {{AV_PICTURE_TYPE_I, domain::PictureType::I},
                                                                  {AV_PICTURE_TYPE_P, domain::PictureType::P},
                                                                  {AV_PICTURE_TYPE_B, domain::PictureType::B},
                                                                  {AV_PICTURE_TYPE_S, domain::PictureType::None},
                                                                  {AV_PICTURE_TYPE_NONE, domain::PictureType::None}};
    const std::pair<AVColorRange, ColourRange> ranges[] = {{AVCOL_RANGE_MPEG, ColourRange::Limited},
                                                          {AVCOL_RANGE_JPEG, ColourRange::Full},
                                                          {AVCOL_RANGE_UNSPECIFIED, ColourRange::Unspecified}};
    const std::pair<AVColorSpace, ColourMatrix> matrices[] = {
        {AVCOL_SPC_BT709, ColourMatrix::Bt709},          {AVCOL_SPC_FCC, ColourMatrix::Bt601},
        {AVCOL_SPC_BT470BG, ColourMatrix::Bt601},        {AVCOL_SPC_SMPTE170M, ColourMatrix::Bt601},
        {AVCOL_SPC_SMPTE240M, ColourMatrix::Bt601},      {AVCOL_SPC_BT2020_NCL, ColourMatrix::Bt2020},
        {AVCOL_SPC_BT2020_CL, ColourMatrix::Unspecified}, {AVCOL_SPC_RGB, ColourMatrix::Unspecified},
        {AVCOL_SPC_YCGCO, ColourMatrix::Unspecified},    {AVCOL_SPC_UNSPECIFIED, ColourMatrix::Unspecified},
        {AVCOL_SPC_ICTCP, ColourMatrix::Unspecified}};
    FramePtr frame = makeFrame(AV_PIX_FMT_YUV420P, 4, 4);
    for (const auto& [type, expected] : types) {
        frame->pict_type = type;
        EXPECT_EQ(convertDecodedFrame(*frame, kSourcePath, 0).value().picture.pictureType, expected) << type;
    }
    for (const auto& [range, expected] : ranges) {
        frame->color_range = range;
        EXPECT_EQ(convertDecodedFrame(*frame, kSourcePath, 0).value().frame.colourRange, expected) << range;
    }
    for (const auto& [space, expected] : matrices) {
        frame->colorspace = space;
        EXPECT_EQ(convertDecodedFrame(*frame, kSourcePath, 0).value().frame.matrix, expected) << space;
    }
}

}  // namespace
}  // namespace vexilo::media
