#pragma once

// Frame packets byte by byte, with every field open to values the worker would never send,
// for the tests of the reader and of the client's frame channel.

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace vexilo::application::test {

struct RawPlane {
    std::int8_t index = 0;
    std::int32_t width = 4;
    std::int32_t height = 2;
    std::int64_t stride = 4;
    std::int32_t bytesPerSample = 1;
    std::optional<std::uint32_t> sampleCount;  // announced length; default: the bytes below
    QByteArray samples = QByteArray(8, '\x10');
};

struct RawFramePacket {
    std::uint32_t magic = 0x56584652U;
    std::int16_t version = 1;
    std::int16_t flags = 0;
    std::optional<std::int64_t> bodyLength;  // default: the body's real length

    std::int64_t sequence = 1;
    std::int64_t pictureId = 7;
    std::int64_t displayIndex = 3;
    std::int64_t packetIndex = 2;
    std::int64_t decodeIndex = 1;
    std::int64_t pts = 1000;
    std::int64_t dts = 900;
    std::int32_t poc = 6;
    std::int8_t pictureType = 2;
    std::int32_t pictureWidth = 4;
    std::int32_t pictureHeight = 2;
    std::int32_t pictureBitDepth = 8;
    std::int64_t frameIndex = 7;
    std::int32_t frameWidth = 4;
    std::int32_t frameHeight = 2;
    std::int32_t frameBitDepth = 8;
    QByteArray pixelFormat = "yuv420p";
    std::int8_t chromaFormat = 1;
    std::int8_t colourRange = 1;
    std::int8_t matrix = 2;
    std::optional<std::int8_t> planeCount;  // default: the planes below
    std::vector<RawPlane> planes{
        RawPlane{},
        RawPlane{1, 2, 1, 2, 1, std::nullopt, QByteArray(2, '\x20')},
        RawPlane{2, 2, 1, 2, 1, std::nullopt, QByteArray(2, '\x30')},
    };
    std::int64_t packedStride = 0;
    QByteArray packedData;
    QByteArray trailing;  // bytes after the last field, inside the body

    [[nodiscard]] QByteArray body() const
    {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_6_0);
        stream.setByteOrder(QDataStream::BigEndian);
        stream << qint64{sequence} << qint64{pictureId} << qint64{displayIndex} << qint64{packetIndex}
               << qint64{decodeIndex} << qint64{pts} << qint64{dts} << qint32{poc} << qint8{pictureType}
               << qint32{pictureWidth} << qint32{pictureHeight} << qint32{pictureBitDepth} << qint64{frameIndex}
               << qint32{frameWidth} << qint32{frameHeight} << qint32{frameBitDepth};
        writeArray(stream, pixelFormat, std::nullopt);
        stream << qint8{chromaFormat} << qint8{colourRange} << qint8{matrix}
               << qint8{planeCount.value_or(static_cast<std::int8_t>(planes.size()))};
        for (const RawPlane& plane : planes) {
            stream << qint8{plane.index} << qint32{plane.width} << qint32{plane.height} << qint64{plane.stride}
                   << qint32{plane.bytesPerSample};
            writeArray(stream, plane.samples, plane.sampleCount);
        }
        stream << qint64{packedStride};
        writeArray(stream, packedData, std::nullopt);
        bytes.append(trailing);
        return bytes;
    }

    [[nodiscard]] QByteArray bytes() const
    {
        const QByteArray payload = body();
        QByteArray packet;
        QDataStream stream(&packet, QIODevice::WriteOnly);
        stream.setByteOrder(QDataStream::BigEndian);
        stream << quint32{magic} << qint16{version} << qint16{flags}
               << qint64{bodyLength.value_or(static_cast<std::int64_t>(payload.size()))};
        packet.append(payload);
        return packet;
    }

private:
    static void writeArray(QDataStream& stream, const QByteArray& data, std::optional<std::uint32_t> count)
    {
        stream << quint32{count.value_or(static_cast<std::uint32_t>(data.size()))};
        stream.writeRawData(data.constData(), static_cast<int>(data.size()));
    }
};

}  // namespace vexilo::application::test
