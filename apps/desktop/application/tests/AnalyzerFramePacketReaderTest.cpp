#include "RawFramePacket.h"

#include "vexilo/application/AnalyzerFramePacketReader.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

namespace vexilo::application {
namespace {

using test::RawFramePacket;
using test::RawPlane;
using Kind = FramePacketReadFailureKind;

constexpr auto kMetadata = "Frame packet metadata is invalid";
constexpr auto kPlaneInvalid = "Frame packet plane is invalid";
constexpr auto kInconsistent = "Frame packet plane dimensions are inconsistent";

FramePacketReadFailure failureOf(const QByteArray& bytes)
{
    const FramePacketReadResult result = decodeAnalyzerFramePacket(bytes);
    const auto* failure = std::get_if<FramePacketReadFailure>(&result);
    return failure != nullptr ? *failure : FramePacketReadFailure{Kind::Invalid, QStringLiteral("<accepted>")};
}

FramePacketReadSuccess successOf(const QByteArray& bytes)
{
    FramePacketReadResult result = decodeAnalyzerFramePacket(bytes);
    if (const auto* failure = std::get_if<FramePacketReadFailure>(&result)) {
        ADD_FAILURE() << "refused: " << failure->message.toStdString();
        return {};
    }
    return std::get<FramePacketReadSuccess>(std::move(result));
}

TEST(AnalyzerFramePacketReaderTest, ReadsEveryFieldOfAValidPacketAndReportsItsLength)
{
    const RawFramePacket raw;
    const QByteArray bytes = raw.bytes();
    const FramePacketReadSuccess read = successOf(bytes + QByteArray("next packet"));
    EXPECT_EQ(read.bytesConsumed, static_cast<std::uint64_t>(bytes.size()));
    const protocol::AnalyzerFramePacket& packet = read.packet;
    EXPECT_EQ(packet.sequence, 1U);
    EXPECT_EQ(packet.picture.id, 7);
    EXPECT_EQ(packet.picture.displayIndex, 3);
    EXPECT_EQ(packet.picture.packetIndex, 2);
    EXPECT_EQ(packet.picture.decodeIndex, 1);
    EXPECT_EQ(packet.picture.pts, 1000);
    EXPECT_EQ(packet.picture.dts, 900);
    EXPECT_EQ(packet.picture.poc, 6);
    EXPECT_EQ(packet.picture.pictureType, domain::PictureType::P);
    EXPECT_EQ(packet.picture.bitDepth, 8);
    EXPECT_EQ(packet.frame.index, 7);
    EXPECT_EQ(packet.frame.pixelFormatName, "yuv420p");
    EXPECT_EQ(packet.frame.chromaFormat, domain::ChromaFormat::Yuv420);
    EXPECT_EQ(packet.frame.colourRange, domain::ColourRange::Limited);
    EXPECT_EQ(packet.frame.matrix, domain::ColourMatrix::Bt709);
    ASSERT_EQ(packet.frame.planes.size(), 3U);
    EXPECT_EQ(packet.frame.planes[1].planeIndex, 1);
    EXPECT_EQ(packet.frame.planes[1].width, 2);
    EXPECT_EQ(packet.frame.planes[1].samples, std::vector<std::uint8_t>(2, 0x20));
    EXPECT_TRUE(packet.frame.packedData.empty());
}

TEST(AnalyzerFramePacketReaderTest, ReadsWhatTheWorkersWriterProduces)
{
    protocol::AnalyzerFramePacket packet;
    packet.sequence = 41;
    packet.picture = {9, 4, 3, 2, std::nullopt, -5, std::nullopt, domain::PictureType::B, 6, 4, 10};
    packet.frame.index = 9;
    packet.frame.width = 6;
    packet.frame.height = 4;
    packet.frame.bitDepth = 10;
    packet.frame.pixelFormatName = "yuv422p10le";
    packet.frame.chromaFormat = domain::ChromaFormat::Yuv422;
    for (std::uint8_t index = 0; index < 3; ++index) {
        const std::int32_t width = index == 0 ? 6 : 3;
        packet.frame.planes.push_back(domain::VideoPlane{index, width, 4, width * 2, 2,
                                                         std::vector<std::uint8_t>(std::size_t(width * 8), index)});
    }
    const QByteArray bytes = protocol::serializeAnalyzerFramePacket(packet);
    ASSERT_FALSE(bytes.isEmpty());
    const FramePacketReadSuccess read = successOf(bytes);
    EXPECT_EQ(read.bytesConsumed, static_cast<std::uint64_t>(bytes.size()));
    EXPECT_EQ(read.packet.sequence, packet.sequence);
    EXPECT_EQ(read.packet.picture, packet.picture);
    EXPECT_EQ(read.packet.frame, packet.frame);
}

TEST(AnalyzerFramePacketReaderTest, WaitsForTheWholePrefixAndTheWholeBody)
{
    const QByteArray bytes = RawFramePacket{}.bytes();
    const FramePacketReadFailure prefix = failureOf(bytes.first(15));
    EXPECT_EQ(prefix.kind, Kind::Incomplete);
    EXPECT_EQ(prefix.message, "Frame packet prefix is incomplete");
    const FramePacketReadFailure payload = failureOf(bytes.first(16 + (bytes.size() - 16) / 2));
    EXPECT_EQ(payload.kind, Kind::Incomplete);
    EXPECT_EQ(payload.message, "Frame packet payload is incomplete");
    EXPECT_EQ(failureOf(QByteArray()).kind, Kind::Incomplete);
}

struct PrefixCase {
    const char* name;
    std::function<void(RawFramePacket&)> change;
    Kind kind;
    const char* message;
};

TEST(AnalyzerFramePacketReaderTest, RefusesBadPrefixesInTheirOrder)
{
    static constexpr std::int64_t kLimit = 268'435'456;
    const std::vector<PrefixCase> cases{
        {"flags", [](RawFramePacket& p) { p.flags = 1; }, Kind::Invalid, "Frame packet prefix is invalid"},
        {"flags before magic", [](RawFramePacket& p) { p.flags = 1; p.magic = 0; }, Kind::Invalid,
         "Frame packet prefix is invalid"},
        {"magic", [](RawFramePacket& p) { p.magic = 0x56584653U; }, Kind::BadMagic,
         "Frame packet magic does not match VXFR"},
        {"version", [](RawFramePacket& p) { p.version = 2; }, Kind::UnsupportedVersion,
         "Frame packet protocol version is unsupported"},
        {"one over the limit", [](RawFramePacket& p) { p.bodyLength = kLimit + 1; }, Kind::TooLarge,
         "Frame packet exceeds the 256 MiB limit"},
        {"negative length", [](RawFramePacket& p) { p.bodyLength = -1; }, Kind::TooLarge,
         "Frame packet exceeds the 256 MiB limit"},
        {"exactly the limit waits", [](RawFramePacket& p) { p.bodyLength = kLimit; }, Kind::Incomplete,
         "Frame packet payload is incomplete"},
    };
    for (const PrefixCase& testCase : cases) {
        RawFramePacket raw;
        testCase.change(raw);
        const FramePacketReadFailure failure = failureOf(raw.bytes());
        EXPECT_EQ(failure.kind, testCase.kind) << testCase.name;
        EXPECT_EQ(failure.message.toStdString(), testCase.message) << testCase.name;
    }
}

struct BodyCase {
    const char* name;
    std::function<void(RawFramePacket&)> change;
    const char* message;
};

void expectRefused(const std::vector<BodyCase>& cases)
{
    for (const BodyCase& testCase : cases) {
        RawFramePacket raw;
        testCase.change(raw);
        const FramePacketReadFailure failure = failureOf(raw.bytes());
        EXPECT_EQ(failure.kind, Kind::Invalid) << testCase.name;
        EXPECT_EQ(failure.message.toStdString(), testCase.message) << testCase.name;
    }
}

TEST(AnalyzerFramePacketReaderTest, RefusesInvalidMetadata)
{
    expectRefused({
        {"sequence 0", [](RawFramePacket& p) { p.sequence = 0; }, kMetadata},
        {"four planes", [](RawFramePacket& p) { p.planeCount = 4; }, kMetadata},
        {"negative plane count", [](RawFramePacket& p) { p.planeCount = -1; }, kMetadata},
        {"zero width", [](RawFramePacket& p) { p.pictureWidth = p.frameWidth = 0; }, kMetadata},
        {"zero height", [](RawFramePacket& p) { p.pictureHeight = p.frameHeight = 0; }, kMetadata},
        {"frame width differs", [](RawFramePacket& p) { p.frameWidth = 6; }, kMetadata},
        {"frame height differs", [](RawFramePacket& p) { p.frameHeight = 4; }, kMetadata},
        {"frame bit depth 0", [](RawFramePacket& p) { p.frameBitDepth = p.pictureBitDepth = 0; }, kMetadata},
        {"bit depths differ", [](RawFramePacket& p) { p.pictureBitDepth = 10; }, kMetadata},
        {"picture type 4", [](RawFramePacket& p) { p.pictureType = 4; }, kMetadata},
        {"negative picture type", [](RawFramePacket& p) { p.pictureType = -1; }, kMetadata},
        {"chroma format 4", [](RawFramePacket& p) { p.chromaFormat = 4; }, kMetadata},
        {"colour range 3", [](RawFramePacket& p) { p.colourRange = 3; }, kMetadata},
        {"colour matrix 4", [](RawFramePacket& p) { p.matrix = 4; }, kMetadata},
        {"name longer than the body", [](RawFramePacket& p) { p.pixelFormat = QByteArray(); p.planes.clear();
             p.packedData = "x"; p.bodyLength = 70; }, kMetadata},
    });
}

TEST(AnalyzerFramePacketReaderTest, RefusesPlanesThatDoNotReadOrDoNotAddUp)
{
    expectRefused({
        {"plane index 3", [](RawFramePacket& p) { p.planes[2].index = 3; }, kPlaneInvalid},
        {"negative plane index", [](RawFramePacket& p) { p.planes[0].index = -1; }, kPlaneInvalid},
        {"samples past the body", [](RawFramePacket& p) { p.planes[2].sampleCount = 1000; }, kPlaneInvalid},
        {"zero width", [](RawFramePacket& p) { p.planes[0].width = 0; }, kInconsistent},
        {"zero height", [](RawFramePacket& p) { p.planes[0].height = 0; }, kInconsistent},
        {"zero bytes per sample", [](RawFramePacket& p) { p.planes[0].bytesPerSample = 0; }, kInconsistent},
        {"zero stride", [](RawFramePacket& p) { p.planes[0].stride = 0; }, kInconsistent},
        {"stride times height overflows", [](RawFramePacket& p) { p.planes[0].stride = -1; }, kInconsistent},
        {"sample bytes short", [](RawFramePacket& p) { p.planes[0].samples.chop(1); }, kInconsistent},
        {"sample bytes long", [](RawFramePacket& p) { p.planes[0].samples.append('x'); }, kInconsistent},
        {"null sample array", [](RawFramePacket& p) { p.planes[1].samples.clear(); p.planes[1].sampleCount = 0xFFFFFFFFU; },
         kInconsistent},
    });
}

// The worker never sends these, and a viewer sizing its buffers by the frame would overrun
// or allocate without bound if they were let through.
TEST(AnalyzerFramePacketReaderTest, RefusesPlaneGeometryThatDoesNotFitTheFrame)
{
    expectRefused({
        {"three bytes per sample", [](RawFramePacket& p) { p.planes[0] = RawPlane{0, 4, 2, 12, 3, std::nullopt,
                                                                                   QByteArray(24, 'y')}; },
         kInconsistent},
        {"tiny luma for a huge frame", [](RawFramePacket& p) {
             p.pictureWidth = p.frameWidth = p.pictureHeight = p.frameHeight = 30000;
             for (RawPlane& plane : p.planes) {
                 plane.width = plane.height = 1;
                 plane.stride = 1;
                 plane.samples = QByteArray(1, 'y');
             }
         }, kInconsistent},
        {"chroma sized as luma in 4:2:0", [](RawFramePacket& p) { p.planes[1] = RawPlane{1, 4, 2, 4, 1, std::nullopt,
                                                                                          QByteArray(8, 'u')}; },
         kInconsistent},
        {"stride below a row", [](RawFramePacket& p) { p.planes[0] = RawPlane{0, 4, 2, 3, 1, std::nullopt,
                                                                               QByteArray(6, 'y')}; },
         kInconsistent},
        {"16-bit row longer than stride", [](RawFramePacket& p) { p.planes[0] = RawPlane{0, 4, 2, 4, 2, std::nullopt,
                                                                                          QByteArray(8, 'y')}; },
         kInconsistent},
        {"chroma planes without a chroma format", [](RawFramePacket& p) { p.chromaFormat = 0; }, kInconsistent},
    });

    RawFramePacket monochrome;
    monochrome.chromaFormat = 0;
    monochrome.planes.resize(1);
    EXPECT_EQ(successOf(monochrome.bytes()).packet.frame.planes.size(), 1U);
    RawFramePacket padded;
    padded.planes[0] = RawPlane{0, 4, 2, 8, 1, std::nullopt, QByteArray(16, 'y')};
    EXPECT_EQ(successOf(padded.bytes()).packet.frame.planes[0].stride, 8);
}

TEST(AnalyzerFramePacketReaderTest, RefusesTrailingBytesInsideTheBodyOnly)
{
    RawFramePacket spare;
    spare.trailing = "x";
    const FramePacketReadFailure failure = failureOf(spare.bytes());
    EXPECT_EQ(failure.kind, Kind::Invalid);
    EXPECT_EQ(failure.message, "Frame packet trailing data is invalid");

    RawFramePacket truncated;
    truncated.packedData = "abc";
    QByteArray bytes = truncated.bytes();
    bytes.chop(2);
    bytes[15] = static_cast<char>(bytes[15] - 2);
    EXPECT_EQ(failureOf(bytes).message, "Frame packet trailing data is invalid");
}

TEST(AnalyzerFramePacketReaderTest, NeedsMatchingIdentityAndSomePixels)
{
    expectRefused({
        {"frame index differs", [](RawFramePacket& p) { p.frameIndex = 8; }, "Frame packet identity or pixel payload is invalid"},
        {"no planes and no packed data", [](RawFramePacket& p) { p.planes.clear(); },
         "Frame packet identity or pixel payload is invalid"},
    });
    RawFramePacket packed;
    packed.planes.clear();
    packed.pixelFormat = "rgba8";
    packed.packedStride = 16;
    packed.packedData = QByteArray(32, 'p');
    const FramePacketReadSuccess read = successOf(packed.bytes());
    EXPECT_TRUE(read.packet.frame.planes.empty());
    EXPECT_EQ(read.packet.frame.packedStride, 16);
    EXPECT_EQ(read.packet.frame.packedData.size(), 32U);
}

TEST(AnalyzerFramePacketReaderTest, SentinelsMeanAbsentAndTheirNeighboursPresent)
{
    constexpr std::int64_t kAbsent = std::numeric_limits<std::int64_t>::min();
    RawFramePacket absent;
    absent.packetIndex = absent.decodeIndex = absent.pts = absent.dts = kAbsent;
    absent.poc = std::numeric_limits<std::int32_t>::min();
    const domain::PictureInfo picture = successOf(absent.bytes()).packet.picture;
    EXPECT_FALSE(picture.packetIndex || picture.decodeIndex || picture.pts || picture.dts || picture.poc);

    RawFramePacket present;
    present.packetIndex = present.decodeIndex = present.pts = present.dts = kAbsent + 1;
    present.poc = std::numeric_limits<std::int32_t>::min() + 1;
    const domain::PictureInfo near = successOf(present.bytes()).packet.picture;
    EXPECT_EQ(near.packetIndex, kAbsent + 1);
    EXPECT_EQ(near.decodeIndex, kAbsent + 1);
    EXPECT_EQ(near.pts, kAbsent + 1);
    EXPECT_EQ(near.dts, kAbsent + 1);
    EXPECT_EQ(near.poc, std::numeric_limits<std::int32_t>::min() + 1);
}

TEST(AnalyzerFramePacketReaderTest, ReadsBackToBackPacketsOneAtATime)
{
    RawFramePacket first;
    RawFramePacket second;
    second.sequence = 2;
    const QByteArray stream = first.bytes() + second.bytes();
    const FramePacketReadSuccess one = successOf(stream);
    const FramePacketReadSuccess two = successOf(stream.sliced(static_cast<qsizetype>(one.bytesConsumed)));
    EXPECT_EQ(one.packet.sequence, 1U);
    EXPECT_EQ(two.packet.sequence, 2U);
    EXPECT_EQ(one.bytesConsumed + two.bytesConsumed, static_cast<std::uint64_t>(stream.size()));
}

}  // namespace
}  // namespace vexilo::application
