// The frame channel's reader thread against a real local socket written from the test's own
// thread, which plays the worker: what it holds back, what it hands over and in which order.

#include "AnalyzerFrameChannel.h"
#include "RawFramePacket.h"

#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QTest>
#include <QUuid>

#include <vector>

namespace vexilo::application {
namespace {

using test::RawFramePacket;
using test::RawPlane;
using namespace std::chrono_literals;

constexpr int kChannelWaitMs = 30000;
constexpr std::int32_t kWidth = 256;
constexpr std::int32_t kHeight = 128;
// Far below the real limit, so that a few megabytes show the reader stop.
constexpr std::uint64_t kSmallLimit = 256ULL * 1024;

QByteArray framePacket(std::int64_t sequence)
{
    RawFramePacket packet;
    packet.sequence = sequence;
    packet.pictureId = sequence;
    packet.frameIndex = sequence;
    packet.pictureWidth = packet.frameWidth = kWidth;
    packet.pictureHeight = packet.frameHeight = kHeight;
    const auto plane = [sequence](std::int8_t index, std::int32_t width, std::int32_t height) {
        return RawPlane{index, width, height, width, 1, std::nullopt,
                        QByteArray(width * height, static_cast<char>(sequence))};
    };
    packet.planes = {plane(0, kWidth, kHeight), plane(1, kWidth / 2, kHeight / 2), plane(2, kWidth / 2, kHeight / 2)};
    return packet.bytes();
}

QByteArray framePackets(std::int64_t first, std::int64_t last)
{
    QByteArray bytes;
    for (std::int64_t sequence = first; sequence <= last; ++sequence) {
        bytes.append(framePacket(sequence));
    }
    return bytes;
}

// The test's side of the channel: the worker's writing end, and what the owner took.
struct ChannelSession {
    explicit ChannelSession(std::uint64_t limit = kMaxUndeliveredFrameBytes)
        : channel([this] { ++announcements; }, limit),
          name(QStringLiteral("vexilo-frame-test-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)))
    {
    }

    bool open() { return channel.open(name).isEmpty(); }

    static bool connectWriter(QLocalSocket& writer, const QString& serverName)
    {
        writer.connectToServer(serverName, QIODevice::WriteOnly);
        return writer.waitForConnected(kChannelWaitMs);
    }

    static bool flush(QLocalSocket& writer)
    {
        while (writer.bytesToWrite() > 0) {
            if (!writer.waitForBytesWritten(kChannelWaitMs)) {
                return false;
            }
        }
        return true;
    }

    // As the client does at a task's end: take, and ask again while the reader stopped at its limit.
    void drain()
    {
        AnalyzerFrameChannel::ReadOutcome outcome = AnalyzerFrameChannel::ReadOutcome::MoreWaiting;
        while (outcome == AnalyzerFrameChannel::ReadOutcome::MoreWaiting) {
            outcome = channel.readNow(std::chrono::milliseconds(kChannelWaitMs));
            ASSERT_NE(outcome, AnalyzerFrameChannel::ReadOutcome::TimedOut);
            takeAll();
        }
    }

    void takeAll()
    {
        while (std::optional<FrameChannelItem> item = channel.takeNext()) {
            if (const auto* defect = std::get_if<FrameChannelDefect>(&*item)) {
                defects.push_back(defect->message);
            } else {
                sequences.push_back(std::get<protocol::AnalyzerFramePacket>(*item).sequence);
            }
        }
    }

    [[nodiscard]] bool sequencesRunFromOneTo(std::uint64_t last) const
    {
        if (sequences.size() != last) {
            return false;
        }
        for (std::uint64_t index = 0; index < last; ++index) {
            if (sequences[index] != index + 1) {
                return false;
            }
        }
        return true;
    }

    int announcements = 0;
    AnalyzerFrameChannel channel;
    QString name;
    QLocalSocket writer;
    std::vector<std::uint64_t> sequences;
    std::vector<QString> defects;
};

// Waits until the undelivered bytes stop growing: the reader has stopped.
std::uint64_t settledUndeliveredBytes(const AnalyzerFrameChannel& channel)
{
    std::uint64_t before = 0;
    std::uint64_t now = channel.undeliveredBytes();
    while (now == 0 || now != before) {
        before = now;
        QTest::qWait(300);
        now = channel.undeliveredBytes();
    }
    return now;
}

TEST(AnalyzerFrameChannelTest, ReadingStopsAtTheLimitUntilTheOwnerTakesThePacketsThenGoesOnInOrder)
{
    constexpr std::int64_t kPackets = 400;  // about 20 MB, well past the limit and the socket buffers
    ChannelSession session(kSmallLimit);
    ASSERT_TRUE(session.open());
    ASSERT_TRUE(ChannelSession::connectWriter(session.writer, session.name));
    session.writer.write(framePackets(1, kPackets));

    const std::uint64_t held = settledUndeliveredBytes(session.channel);
    EXPECT_GE(held, kSmallLimit);
    EXPECT_LE(held, kSmallLimit + kFrameChannelReadChunkBytes + static_cast<std::uint64_t>(framePacket(1).size()));
    EXPECT_GT(session.writer.bytesToWrite(), 0) << "the writer waits while the reader holds its limit";
    EXPECT_GE(session.announcements, 1);

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            session.takeAll();
            return session.sequences.size() >= static_cast<std::size_t>(kPackets);
        },
        kChannelWaitMs));
    EXPECT_TRUE(session.sequencesRunFromOneTo(kPackets));
    EXPECT_TRUE(session.defects.empty());
    EXPECT_EQ(session.writer.bytesToWrite(), 0);
}

TEST(AnalyzerFrameChannelTest, ReadNowHandsOverEverythingWrittenBeforeTheWriterClosed)
{
    constexpr std::int64_t kPackets = 30;  // past the limit, so the drain asks more than once
    for (const bool closesFirst : {false, true}) {
        SCOPED_TRACE(closesFirst ? "writer closed" : "writer open");
        ChannelSession session(kSmallLimit);
        ASSERT_TRUE(session.open());
        ASSERT_TRUE(ChannelSession::connectWriter(session.writer, session.name));
        session.writer.write(framePackets(1, kPackets));
        ASSERT_TRUE(ChannelSession::flush(session.writer));
        if (closesFirst) {
            session.writer.disconnectFromServer();
        }
        // No event loop runs here: only the reader's own thread has read anything.
        session.drain();
        EXPECT_TRUE(session.sequencesRunFromOneTo(kPackets));
        EXPECT_TRUE(session.defects.empty());
    }
}

TEST(AnalyzerFrameChannelTest, ABrokenPacketIsTheLastWordOfItsConnection)
{
    ChannelSession session;
    ASSERT_TRUE(session.open());
    ASSERT_TRUE(ChannelSession::connectWriter(session.writer, session.name));
    QByteArray broken = framePacket(3);
    broken[0] = 'W';
    session.writer.write(framePackets(1, 2) + broken + framePacket(4));
    ASSERT_TRUE(ChannelSession::flush(session.writer));
    session.drain();
    EXPECT_TRUE(session.sequencesRunFromOneTo(2));
    ASSERT_EQ(session.defects.size(), 1U);
    EXPECT_EQ(session.defects[0], "Frame packet magic does not match VXFR");

    // The next connection is framed afresh.
    session.writer.disconnectFromServer();
    session.drain();
    QLocalSocket next;
    ASSERT_TRUE(ChannelSession::connectWriter(next, session.name));
    next.write(framePacket(1));
    ASSERT_TRUE(ChannelSession::flush(next));
    session.sequences.clear();
    session.drain();
    EXPECT_TRUE(session.sequencesRunFromOneTo(1));
    EXPECT_EQ(session.defects.size(), 1U);
}

TEST(AnalyzerFrameChannelTest, DroppedPacketsAndTheRestOfTheirConnectionNeverReachTheNextTask)
{
    ChannelSession session;
    ASSERT_TRUE(session.open());
    ASSERT_TRUE(ChannelSession::connectWriter(session.writer, session.name));
    // Half a packet waits in the reader when the owner drops the task.
    const QByteArray third = framePacket(3);
    session.writer.write(framePackets(1, 2) + third.first(third.size() / 2));
    ASSERT_TRUE(ChannelSession::flush(session.writer));
    ASSERT_EQ(session.channel.readNow(std::chrono::milliseconds(kChannelWaitMs)), AnalyzerFrameChannel::ReadOutcome::Done);
    session.channel.dropFrames();
    EXPECT_FALSE(session.channel.takeNext().has_value());

    session.writer.write(third.sliced(third.size() / 2) + framePacket(4));
    ASSERT_TRUE(ChannelSession::flush(session.writer));
    session.writer.disconnectFromServer();
    session.drain();
    EXPECT_TRUE(session.sequences.empty()) << "the stale connection's rest is read and dropped";

    QLocalSocket nextTask;
    ASSERT_TRUE(ChannelSession::connectWriter(nextTask, session.name));
    nextTask.write(framePackets(1, 3));
    ASSERT_TRUE(ChannelSession::flush(nextTask));
    session.drain();
    EXPECT_TRUE(session.sequencesRunFromOneTo(3));
    EXPECT_TRUE(session.defects.empty());
}

TEST(AnalyzerFrameChannelTest, StoppingJoinsAReaderHeldAtItsLimitAndAnOpenStartsAfresh)
{
    ChannelSession session(kSmallLimit);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(session.open());
        QLocalSocket writer;
        ASSERT_TRUE(ChannelSession::connectWriter(writer, session.name));
        writer.write(framePackets(1, 200));
        settledUndeliveredBytes(session.channel);
        ASSERT_GT(writer.bytesToWrite(), 0);

        session.channel.stop();
        EXPECT_FALSE(session.channel.isOpen());
        EXPECT_EQ(session.channel.undeliveredBytes(), 0U);
        EXPECT_FALSE(session.channel.takeNext().has_value());
        EXPECT_TRUE(QTest::qWaitFor([&] { return writer.state() == QLocalSocket::UnconnectedState; }, kChannelWaitMs))
            << "the writer learns that nobody reads any more";
        session.channel.stop();  // twice is harmless
    }
    // Destroying an open channel with a held reader joins it as well.
    ASSERT_TRUE(session.open());
    ASSERT_TRUE(ChannelSession::connectWriter(session.writer, session.name));
    session.writer.write(framePackets(1, 200));
    settledUndeliveredBytes(session.channel);
}

}  // namespace
}  // namespace vexilo::application
