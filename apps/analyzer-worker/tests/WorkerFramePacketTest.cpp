#include "WorkerFramePacketReader.h"
#include "WorkerTestSupport.h"
#include "app/FrameChannel.h"

#include <gtest/gtest.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QUuid>

#include <limits>
#include <memory>

namespace vexilo::analyzer {
namespace {

using testing::WirePacket;

// A connected pair of local sockets: the writer the worker would hold, the reader the desktop would.
class SocketPair {
public:
    SocketPair()
    {
        testing::coreApplication();
        const QString name = QStringLiteral("vexilo-frame-test-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
        server_.listen(name);
        writer.connectToServer(name, QIODevice::WriteOnly);
        writer.waitForConnected(3000);
        server_.waitForNewConnection(3000);
        reader = server_.nextPendingConnection();
    }

    // Everything the reader receives until one whole packet is there.
    std::optional<WirePacket> readPacket()
    {
        std::optional<WirePacket> packet;
        testing::spinUntil([&] {
            if (reader == nullptr) {
                return true;
            }
            reader->waitForReadyRead(10);
            received_ += reader->readAll();
            qsizetype consumed = 0;
            packet = testing::readWirePacket(received_, consumed);
            if (packet) {
                received_.remove(0, consumed);
            }
            return packet.has_value();
        });
        return packet;
    }

    // The next whole packet, or nothing once the writer has ended the channel.
    std::optional<WirePacket> readPacketUntilEnd()
    {
        std::optional<WirePacket> packet;
        bool ended = false;
        testing::spinUntil([&] {
            const bool more = reader->waitForReadyRead(10);
            received_ += reader->readAll();
            qsizetype consumed = 0;
            packet = testing::readWirePacket(received_, consumed);
            if (packet) {
                received_.remove(0, consumed);
            }
            ended = !more && reader->state() != QLocalSocket::ConnectedState;
            return packet.has_value() || ended;
        });
        return packet;
    }

    QLocalSocket writer;
    QLocalSocket* reader = nullptr;

private:
    QLocalServer server_;
    QByteArray received_;
};

domain::VideoFrame tenBitFrame(std::int32_t width = 3, std::int32_t height = 3)
{
    domain::VideoFrame frame;
    frame.index = 41;
    frame.width = width;
    frame.height = height;
    frame.bitDepth = 10;
    frame.pixelFormatName = "yuv420p10le";
    frame.chromaFormat = domain::ChromaFormat::Yuv420;
    frame.colourRange = domain::ColourRange::Limited;
    frame.matrix = domain::ColourMatrix::Bt709;
    const std::array<std::int32_t, 3> widths{width, (width + 1) / 2, (width + 1) / 2};
    const std::array<std::int32_t, 3> heights{height, (height + 1) / 2, (height + 1) / 2};
    for (std::uint8_t index = 0; index < 3; ++index) {
        domain::VideoPlane plane;
        plane.planeIndex = index;
        plane.width = widths[index];
        plane.height = heights[index];
        plane.bytesPerSample = 2;
        plane.stride = plane.width * 2;
        for (std::int64_t i = 0; i < plane.stride * plane.height; ++i) {
            plane.samples.push_back(static_cast<std::uint8_t>(i * 3 + index));
        }
        frame.planes.push_back(plane);
    }
    return frame;
}

domain::PictureInfo pictureFor(const domain::VideoFrame& frame)
{
    domain::PictureInfo picture;
    picture.id = 41;
    picture.displayIndex = 41;
    picture.pts = -90;
    picture.pictureType = domain::PictureType::I;
    picture.width = frame.width;
    picture.height = frame.height;
    picture.bitDepth = frame.bitDepth;
    return picture;
}

QByteArray bytesOf(const std::vector<std::uint8_t>& samples)
{
    return QByteArray(reinterpret_cast<const char*>(samples.data()), static_cast<qsizetype>(samples.size()));
}

TEST(WorkerFramePacket, IndependentReaderSeesEveryField)
{
    SocketPair sockets;
    ASSERT_NE(sockets.reader, nullptr);
    const domain::VideoFrame frame = tenBitFrame();
    FramePacketSender sender(sockets.writer);
    ASSERT_TRUE(sender.send(pictureFor(frame), frame));

    const std::optional<WirePacket> packet = sockets.readPacket();
    ASSERT_TRUE(packet.has_value());
    constexpr std::int64_t absent64 = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(packet->magic, 0x56584652U);
    EXPECT_EQ(packet->version, 1);
    EXPECT_EQ(packet->flags, 0);
    EXPECT_EQ(packet->sequence, 1);
    EXPECT_EQ(packet->pictureId, 41);
    EXPECT_EQ(packet->displayIndex, 41);
    EXPECT_EQ(packet->packetIndex, absent64);
    EXPECT_EQ(packet->decodeIndex, absent64);
    EXPECT_EQ(packet->pts, -90);
    EXPECT_EQ(packet->dts, absent64);
    EXPECT_EQ(packet->poc, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(packet->pictureType, 1);
    EXPECT_EQ(packet->pictureWidth, 3);
    EXPECT_EQ(packet->pictureHeight, 3);
    EXPECT_EQ(packet->pictureBitDepth, 10);
    EXPECT_EQ(packet->frameIndex, 41);
    EXPECT_EQ(packet->frameWidth, 3);
    EXPECT_EQ(packet->frameHeight, 3);
    EXPECT_EQ(packet->frameBitDepth, 10);
    EXPECT_EQ(packet->pixelFormatName, std::optional<QByteArray>("yuv420p10le"));
    EXPECT_EQ(packet->chromaFormat, 1);
    EXPECT_EQ(packet->colourRange, 1);
    EXPECT_EQ(packet->matrix, 2);
    ASSERT_EQ(packet->planes.size(), 3U);
    for (std::size_t i = 0; i < 3; ++i) {
        const domain::VideoPlane& expected = frame.planes[i];
        EXPECT_EQ(packet->planes[i].planeIndex, static_cast<std::int8_t>(i));
        EXPECT_EQ(packet->planes[i].width, expected.width);
        EXPECT_EQ(packet->planes[i].height, expected.height);
        EXPECT_EQ(packet->planes[i].stride, expected.stride);
        EXPECT_EQ(packet->planes[i].bytesPerSample, 2);
        EXPECT_EQ(packet->planes[i].samples, bytesOf(expected.samples));
    }
    EXPECT_EQ(packet->packedStride, 0);
    EXPECT_FALSE(packet->packedData.has_value()) << "an empty packed buffer travels as the null byte array";
}

TEST(WorkerFramePacket, SequenceAdvancesAlsoForRefusedPackets)
{
    SocketPair sockets;
    ASSERT_NE(sockets.reader, nullptr);
    const domain::VideoFrame frame = tenBitFrame();
    FramePacketSender sender(sockets.writer);
    ASSERT_TRUE(sender.send(pictureFor(frame), frame));

    domain::VideoFrame shortStride = frame;
    shortStride.planes[1].stride = 3;  // two ten-bit samples need four bytes per row
    shortStride.planes[1].samples.resize(6);
    EXPECT_FALSE(sender.send(pictureFor(frame), shortStride));

    ASSERT_TRUE(sender.send(pictureFor(frame), frame));
    EXPECT_EQ(sockets.readPacket()->sequence, 1);
    EXPECT_EQ(sockets.readPacket()->sequence, 3);
}

// Packets go out as their framing with the frame's own planes in between: a small packet after a
// large one must carry nothing of the large one, and the reader must find each whole.
TEST(WorkerFramePacket, SmallPacketAfterALargeOneArrivesWhole)
{
    SocketPair sockets;
    ASSERT_NE(sockets.reader, nullptr);
    const domain::VideoFrame large = tenBitFrame(64, 48);
    const domain::VideoFrame small = tenBitFrame();
    FramePacketSender sender(sockets.writer);
    ASSERT_TRUE(sender.send(pictureFor(large), large));
    ASSERT_TRUE(sender.send(pictureFor(small), small));
    ASSERT_TRUE(sender.send(pictureFor(large), large));

    for (const domain::VideoFrame* expected : {&large, &small, &large}) {
        const std::optional<WirePacket> packet = sockets.readPacket();
        ASSERT_TRUE(packet.has_value());
        EXPECT_EQ(packet->frameWidth, expected->width);
        ASSERT_EQ(packet->planes.size(), 3U);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(packet->planes[i].samples, bytesOf(expected->planes[i].samples)) << "plane " << i;
        }
    }
}

// The analysis goes on while the desktop reads nothing for a moment, as it does while the stream
// opens: frames beyond what the socket buffers wait in the sender's queue, and the reader then
// finds every one whole and in order.
TEST(WorkerFramePacket, FramesQueueAheadOfAReaderThatReadsNothing)
{
    const domain::VideoFrame frame = tenBitFrame(512, 512);  // 768 KiB of samples
    constexpr int kFrames = 24;                                // beyond any socket buffer the system allows
    SocketPair sockets;
    ASSERT_NE(sockets.reader, nullptr);
    FramePacketSender sender(sockets.writer);
    for (int sent = 0; sent < kFrames; ++sent) {
        ASSERT_TRUE(sender.send(pictureFor(frame), frame)) << "frame " << sent;
    }

    for (int packetNumber = 1; packetNumber <= kFrames; ++packetNumber) {
        const std::optional<WirePacket> packet = sockets.readPacket();
        ASSERT_TRUE(packet.has_value());
        EXPECT_EQ(packet->sequence, packetNumber);
        ASSERT_EQ(packet->planes.size(), 3U);
        EXPECT_EQ(packet->planes[2].samples, bytesOf(frame.planes[2].samples));
    }
    EXPECT_TRUE(sender.finish());
}

// A bound smaller than one frame still lets each frame through, one at a time, in order.
TEST(WorkerFramePacket, ABoundBelowOneFrameSendsOneAtATime)
{
    const domain::VideoFrame large = tenBitFrame(64, 48);
    SocketPair sockets;
    ASSERT_NE(sockets.reader, nullptr);
    FramePacketSender sender(sockets.writer, 1);
    for (int sent = 0; sent < 3; ++sent) {
        ASSERT_TRUE(sender.send(pictureFor(large), large));
    }
    EXPECT_TRUE(sender.finish());
    EXPECT_FALSE(sender.send(pictureFor(large), large)) << "a finished sender takes nothing more";
    for (int packetNumber = 1; packetNumber <= 3; ++packetNumber) {
        const std::optional<WirePacket> packet = sockets.readPacket();
        ASSERT_TRUE(packet.has_value());
        EXPECT_EQ(packet->sequence, packetNumber);
    }
}

// The reader goes away after the sender started: the queued frame cannot be written, which
// finish reports, and nothing more is taken.
TEST(WorkerFramePacket, AReaderThatGoesAwayFailsTheQueuedFrames)
{
    SocketPair sockets;
    ASSERT_NE(sockets.reader, nullptr);
    FramePacketSender sender(sockets.writer);
    sockets.reader->abort();
    const domain::VideoFrame frame = tenBitFrame(512, 512);
    for (int sent = 0; sent < 24 && sender.send(pictureFor(frame), frame); ++sent) {
    }
    EXPECT_FALSE(sender.finish());
    EXPECT_FALSE(sender.send(pictureFor(frame), frame));
}

// A cancelled task abandons its frames while the desktop reads nothing: the sender stops without
// waiting for the reader, and the reader finds whole packets, in order, up to where it stopped.
TEST(WorkerFramePacket, AbandoningDropsTheQueue)
{
    const domain::VideoFrame frame = tenBitFrame(512, 512);
    constexpr int kFrames = 24;
    SocketPair sockets;
    ASSERT_NE(sockets.reader, nullptr);
    FramePacketSender sender(sockets.writer);
    for (int sent = 0; sent < kFrames; ++sent) {
        ASSERT_TRUE(sender.send(pictureFor(frame), frame));
    }
    sender.abandon();
    EXPECT_FALSE(sender.send(pictureFor(frame), frame));
    sockets.writer.abort();

    int received = 0;
    while (const std::optional<WirePacket> packet = sockets.readPacketUntilEnd()) {
        EXPECT_EQ(packet->sequence, ++received);
    }
    EXPECT_LT(received, kFrames) << "the queue beyond what the socket took was dropped";
}

TEST(WorkerFramePacket, ClosedPeerFailsTheSend)
{
    SocketPair sockets;
    ASSERT_NE(sockets.reader, nullptr);
    sockets.reader->abort();
    testing::spinUntil([&] { return sockets.writer.state() == QLocalSocket::UnconnectedState; }, 1000);
    const domain::VideoFrame frame = tenBitFrame();
    FramePacketSender sender(sockets.writer);
    EXPECT_FALSE(sender.send(pictureFor(frame), frame));
}

}  // namespace
}  // namespace vexilo::analyzer
