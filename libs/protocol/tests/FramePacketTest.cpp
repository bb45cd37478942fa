#include "vexilo/protocol/FramePacket.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include <functional>
#include <limits>
#include <string>

namespace vexilo::protocol {
namespace {

using domain::ChromaFormat;
using domain::VideoFrame;
using domain::VideoPlane;

VideoPlane plane(std::uint8_t index, std::int32_t width, std::int32_t height, std::int32_t bytesPerSample)
{
    VideoPlane result;
    result.planeIndex = index;
    result.width = width;
    result.height = height;
    result.bytesPerSample = bytesPerSample;
    result.stride = static_cast<std::int64_t>(width) * bytesPerSample;
    result.samples.resize(static_cast<std::size_t>(result.stride * height));
    for (std::size_t i = 0; i < result.samples.size(); ++i) {
        result.samples[i] = static_cast<std::uint8_t>(i * 31U + index);
    }
    return result;
}

AnalyzerFramePacket planarPacket(std::int32_t width, std::int32_t height, ChromaFormat chroma, std::int32_t bitDepth)
{
    AnalyzerFramePacket packet;
    packet.sequence = 5;
    packet.picture.id = 4;
    packet.picture.displayIndex = 4;
    packet.picture.pts = 3600;
    packet.picture.pictureType = domain::PictureType::B;
    packet.picture.width = width;
    packet.picture.height = height;
    packet.picture.bitDepth = bitDepth;
    VideoFrame& frame = packet.frame;
    frame.index = 4;
    frame.width = width;
    frame.height = height;
    frame.bitDepth = bitDepth;
    frame.pixelFormatName = "yuv420p";
    frame.chromaFormat = chroma;
    frame.colourRange = domain::ColourRange::Limited;
    frame.matrix = domain::ColourMatrix::Bt709;
    const std::int32_t bytesPerSample = bitDepth <= 8 ? 1 : 2;
    const bool halfWidth = chroma != ChromaFormat::Yuv444;
    const bool halfHeight = chroma == ChromaFormat::Yuv420;
    const std::int32_t chromaWidth = halfWidth ? (width + 1) / 2 : width;
    const std::int32_t chromaHeight = halfHeight ? (height + 1) / 2 : height;
    frame.planes = {plane(0, width, height, bytesPerSample), plane(1, chromaWidth, chromaHeight, bytesPerSample),
                    plane(2, chromaWidth, chromaHeight, bytesPerSample)};
    return packet;
}

AnalyzerFramePacket packedPacket()
{
    AnalyzerFramePacket packet = planarPacket(3, 2, ChromaFormat::Yuv444, 8);
    packet.frame.planes.clear();
    packet.frame.chromaFormat = ChromaFormat::None;
    packet.frame.pixelFormatName = domain::kPackedRgba8FormatName;
    packet.frame.packedStride = 16;
    packet.frame.packedData.assign(32, 0x7F);
    return packet;
}

AnalyzerFramePacket decodeOrFail(const QByteArray& bytes)
{
    const FramePacketDecodeResult result = decodeAnalyzerFramePacket(bytes);
    if (const auto* error = std::get_if<FramePacketDecodeError>(&result)) {
        ADD_FAILURE() << "refused: " << error->message.toStdString();
        return {};
    }
    return std::get<AnalyzerFramePacket>(result);
}

void expectSamePacket(const AnalyzerFramePacket& actual, const AnalyzerFramePacket& expected)
{
    EXPECT_EQ(actual.sequence, expected.sequence);
    EXPECT_EQ(actual.picture, expected.picture);
    EXPECT_EQ(actual.frame, expected.frame);
}

TEST(FramePacket, PlanarFramesRoundTripForEveryChromaFormatAndDepth)
{
    for (const ChromaFormat chroma : {ChromaFormat::Yuv420, ChromaFormat::Yuv422, ChromaFormat::Yuv444}) {
        for (const std::int32_t depth : {8, 10}) {
            const AnalyzerFramePacket packet = planarPacket(5, 3, chroma, depth);
            const QByteArray bytes = serializeAnalyzerFramePacket(packet);
            ASSERT_FALSE(bytes.isEmpty());
            expectSamePacket(decodeOrFail(bytes), packet);
        }
    }
}

TEST(FramePacket, PackedFrameRoundTrips)
{
    const AnalyzerFramePacket packet = packedPacket();
    expectSamePacket(decodeOrFail(serializeAnalyzerFramePacket(packet)), packet);
}

TEST(FramePacket, HeaderAndEmptyPackedDataFollowTheWireLayout)
{
    const AnalyzerFramePacket packet = planarPacket(2, 2, ChromaFormat::Yuv420, 8);
    const QByteArray bytes = serializeAnalyzerFramePacket(packet);
    ASSERT_GE(bytes.size(), 20);
    EXPECT_EQ(bytes.first(4), QByteArray("VXFR"));
    EXPECT_EQ(qFromBigEndian<quint16>(bytes.constData() + 4), 1);
    EXPECT_EQ(qFromBigEndian<quint16>(bytes.constData() + 6), 0);
    EXPECT_EQ(qFromBigEndian<quint64>(bytes.constData() + 8), static_cast<quint64>(bytes.size() - 16));
    // The body ends with the packed stride (0) and the null byte array of the empty packed data.
    EXPECT_EQ(bytes.last(12), QByteArray::fromHex("0000000000000000ffffffff"));
}

// The framing with each plane's samples put back at its cut, the way the worker sends a packet.
QByteArray joined(const FramePacketFraming& framing, const VideoFrame& frame)
{
    QByteArray bytes;
    qsizetype framed = 0;
    for (std::size_t index = 0; index < framing.sampleCuts.size(); ++index) {
        const std::vector<std::uint8_t>& samples = frame.planes[index].samples;
        bytes += framing.bytes.sliced(framed, framing.sampleCuts[index] - framed);
        bytes += QByteArray(reinterpret_cast<const char*>(samples.data()), static_cast<qsizetype>(samples.size()));
        framed = framing.sampleCuts[index];
    }
    return bytes + framing.bytes.sliced(framed);
}

// The framing leaves out exactly the plane samples, and a framing reused for a smaller packet,
// or refused, keeps nothing of the one before.
TEST(FramePacket, FramingAroundThePlaneSamplesMakesTheSameBytes)
{
    FramePacketFraming framing;
    for (const AnalyzerFramePacket& packet : {planarPacket(7, 5, ChromaFormat::Yuv420, 10),
                                              planarPacket(2, 2, ChromaFormat::Yuv444, 8), packedPacket()}) {
        ASSERT_TRUE(serializeAnalyzerFramePacketFramingInto(packet, framing));
        EXPECT_EQ(framing.sampleCuts.size(), packet.frame.planes.size());
        EXPECT_EQ(joined(framing, packet.frame), serializeAnalyzerFramePacket(packet));
    }
    AnalyzerFramePacket refused = planarPacket(2, 2, ChromaFormat::Yuv420, 8);
    refused.sequence = 0;
    EXPECT_FALSE(serializeAnalyzerFramePacketFramingInto(refused, framing));
    EXPECT_TRUE(framing.bytes.isEmpty());
    EXPECT_TRUE(framing.sampleCuts.empty());
}

TEST(FramePacket, AbsentOptionalsTravelAsSentinels)
{
    AnalyzerFramePacket packet = planarPacket(2, 2, ChromaFormat::Yuv420, 8);
    packet.picture.pts.reset();
    packet.picture.poc = -7;
    packet.picture.dts = 0;
    const AnalyzerFramePacket decoded = decodeOrFail(serializeAnalyzerFramePacket(packet));
    EXPECT_FALSE(decoded.picture.pts.has_value());
    EXPECT_FALSE(decoded.picture.packetIndex.has_value());
    EXPECT_EQ(decoded.picture.poc, std::optional<std::int32_t>(-7));
    EXPECT_EQ(decoded.picture.dts, std::optional<std::int64_t>(0));
}

struct RefusalCase {
    const char* name;
    std::function<void(AnalyzerFramePacket&)> spoil;
    bool packed = false;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class FramePacketRefusalTest : public testing::TestWithParam<RefusalCase> {};

// The writer refuses every case; the reader applies the same rules after decoding.
TEST_P(FramePacketRefusalTest, WriterAndReaderRefuse)
{
    AnalyzerFramePacket packet = GetParam().packed ? packedPacket() : planarPacket(5, 3, ChromaFormat::Yuv420, 10);
    GetParam().spoil(packet);
    EXPECT_FALSE(framePacketProblem(packet).isEmpty());
    EXPECT_TRUE(serializeAnalyzerFramePacket(packet).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Packets, FramePacketRefusalTest,
    testing::Values(
        RefusalCase{"SequenceZero", [](AnalyzerFramePacket& p) { p.sequence = 0; }},
        RefusalCase{"FourthPlane", [](AnalyzerFramePacket& p) { p.frame.planes.push_back(p.frame.planes[2]); }},
        RefusalCase{"TwoPlanes", [](AnalyzerFramePacket& p) { p.frame.planes.pop_back(); }},
        RefusalCase{"PictureSizeDiffers", [](AnalyzerFramePacket& p) { p.picture.width = 4; }},
        RefusalCase{"PictureDepthDiffers", [](AnalyzerFramePacket& p) { p.picture.bitDepth = 8; }},
        RefusalCase{"PictureTypeOutOfRange",
                    [](AnalyzerFramePacket& p) { p.picture.pictureType = static_cast<domain::PictureType>(4); }},
        RefusalCase{"MatrixOutOfRange",
                    [](AnalyzerFramePacket& p) { p.frame.matrix = static_cast<domain::ColourMatrix>(4); }},
        RefusalCase{"RangeOutOfRange",
                    [](AnalyzerFramePacket& p) { p.frame.colourRange = static_cast<domain::ColourRange>(3); }},
        RefusalCase{"ChromaNoneWithPlanes", [](AnalyzerFramePacket& p) { p.frame.chromaFormat = ChromaFormat::None; }},
        RefusalCase{"DuplicatePlaneIndex", [](AnalyzerFramePacket& p) { p.frame.planes[2].planeIndex = 1; }},
        RefusalCase{"SwappedPlanes", [](AnalyzerFramePacket& p) { std::swap(p.frame.planes[1], p.frame.planes[2]); }},
        RefusalCase{"StrideBelowRow",
                    [](AnalyzerFramePacket& p) {
                        VideoPlane& luma = p.frame.planes[0];
                        luma.stride = 9;  // a row of 5 ten-bit samples needs 10 bytes
                        luma.samples.resize(27);
                    }},
        RefusalCase{"NegativeStride",
                    [](AnalyzerFramePacket& p) {
                        p.frame.planes[0].stride = -10;
                        p.frame.planes[0].samples.clear();
                    }},
        RefusalCase{"SamplesShort", [](AnalyzerFramePacket& p) { p.frame.planes[1].samples.pop_back(); }},
        RefusalCase{"SamplesLong", [](AnalyzerFramePacket& p) { p.frame.planes[1].samples.push_back(0); }},
        RefusalCase{"ChromaPlaneTooWide",
                    [](AnalyzerFramePacket& p) {
                        VideoPlane& u = p.frame.planes[1];
                        u.width = 5;
                        u.stride = 10;
                        u.samples.resize(20);
                    }},
        RefusalCase{"LumaPlaneTooShort",
                    [](AnalyzerFramePacket& p) {
                        p.frame.planes[0].height = 2;
                        p.frame.planes[0].samples.resize(20);
                    }},
        RefusalCase{"BytesPerSampleNotFromDepth",
                    [](AnalyzerFramePacket& p) {
                        for (VideoPlane& each : p.frame.planes) {
                            each.bytesPerSample = 1;
                            each.stride = each.width;
                            each.samples.resize(static_cast<std::size_t>(each.width * each.height));
                        }
                    }},
        RefusalCase{"PlanarWithPackedData", [](AnalyzerFramePacket& p) { p.frame.packedData.assign(4, 0); }},
        RefusalCase{"PackedShortData", [](AnalyzerFramePacket& p) { p.frame.packedData.resize(31); }, true},
        RefusalCase{"PackedShortStride",
                    [](AnalyzerFramePacket& p) {
                        p.frame.packedStride = 11;  // three RGBA pixels need 12 bytes
                    },
                    true},
        RefusalCase{"PackedWrongName", [](AnalyzerFramePacket& p) { p.frame.pixelFormatName = "bgra8"; }, true},
        RefusalCase{"PackedWithoutData", [](AnalyzerFramePacket& p) { p.frame.packedData.clear(); }, true}),
    [](const testing::TestParamInfo<RefusalCase>& param) { return std::string(param.param.name); });

// Writes the header and a body without the writer's checks, as a hostile peer would.
QByteArray withHeader(const QByteArray& body)
{
    QByteArray bytes(16, '\0');
    qToBigEndian<quint32>(kFramePacketMagic, bytes.data());
    qToBigEndian<quint16>(1, bytes.data() + 4);
    qToBigEndian<quint64>(static_cast<quint64>(body.size()), bytes.data() + 8);
    return bytes + body;
}

TEST(FramePacketDecode, RefusesSpoiledBytes)
{
    const QByteArray good = serializeAnalyzerFramePacket(planarPacket(3, 3, ChromaFormat::Yuv420, 8));
    ASSERT_FALSE(good.isEmpty());
    const QByteArray body = good.sliced(16);

    const auto refused = [](const QByteArray& bytes) {
        return std::holds_alternative<FramePacketDecodeError>(decodeAnalyzerFramePacket(bytes));
    };
    EXPECT_FALSE(refused(good));
    EXPECT_TRUE(refused(good.first(15)));
    EXPECT_TRUE(refused(good.chopped(1)));
    EXPECT_TRUE(refused(good + '\0'));
    EXPECT_TRUE(refused(withHeader(body.chopped(1))));
    EXPECT_TRUE(refused(withHeader(body + '\0')));
    QByteArray badMagic = good;
    badMagic[0] = 'W';
    EXPECT_TRUE(refused(badMagic));
    QByteArray badVersion = good;
    badVersion[5] = 2;
    EXPECT_TRUE(refused(badVersion));
    // A sample count that claims far more bytes than follow.
    QByteArray hugeCount = body;
    const qsizetype lumaCountOffset = 73 + 20 + 4 + 7 + 4 + 21;  // after plane 0's bytesPerSample
    qToBigEndian<quint32>(0x7FFFFFFFU, hugeCount.data() + lumaCountOffset);
    EXPECT_TRUE(refused(withHeader(hugeCount)));
}

TEST(FramePacketHeader, RefusesBodiesAboveTheLimit)
{
    FramePacketHeader header{kFramePacketMagic, 1, 0, kMaxFramePacketBodySize};
    EXPECT_TRUE(framePacketHeaderProblem(header).isEmpty());
    header.bodySize = kMaxFramePacketBodySize + 1;
    EXPECT_FALSE(framePacketHeaderProblem(header).isEmpty());
    header.bodySize = std::numeric_limits<std::uint64_t>::max();
    EXPECT_FALSE(framePacketHeaderProblem(header).isEmpty());
}

// A packed frame whose body is exactly the limit is written; one byte more is refused.
TEST(FramePacket, BodyOfExactlyTheLimitIsWritten)
{
    AnalyzerFramePacket packet = packedPacket();
    packet.frame.pixelFormatName = "rgba8";
    const auto fixedBytes =
        static_cast<std::size_t>(serializeAnalyzerFramePacket(packet).size() - 16) - packet.frame.packedData.size();
    packet.frame.packedData.assign(kMaxFramePacketBodySize - fixedBytes, 0);
    const QByteArray atLimit = serializeAnalyzerFramePacket(packet);
    EXPECT_EQ(static_cast<std::uint64_t>(atLimit.size()), 16 + kMaxFramePacketBodySize);
    packet.frame.packedData.push_back(0);
    EXPECT_TRUE(serializeAnalyzerFramePacket(packet).isEmpty());
}

}  // namespace
}  // namespace vexilo::protocol
