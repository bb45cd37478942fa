#pragma once

// A reader of frame packets written from the wire layout alone, sharing no code with the
// writer, so a test can check the writer field for field.

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexilo::analyzer::testing {

struct WirePlane {
    std::int8_t planeIndex = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t stride = 0;
    std::int32_t bytesPerSample = 0;
    QByteArray samples;
};

struct WirePacket {
    std::uint32_t magic = 0;
    std::uint16_t version = 0;
    std::uint16_t flags = 0;
    std::uint64_t bodySize = 0;
    std::int64_t sequence = 0;
    std::int64_t pictureId = 0;
    std::int64_t displayIndex = 0;
    std::int64_t packetIndex = 0;
    std::int64_t decodeIndex = 0;
    std::int64_t pts = 0;
    std::int64_t dts = 0;
    std::int32_t poc = 0;
    std::int8_t pictureType = 0;
    std::int32_t pictureWidth = 0;
    std::int32_t pictureHeight = 0;
    std::int32_t pictureBitDepth = 0;
    std::int64_t frameIndex = 0;
    std::int32_t frameWidth = 0;
    std::int32_t frameHeight = 0;
    std::int32_t frameBitDepth = 0;
    std::optional<QByteArray> pixelFormatName;  // empty optional: the null byte array
    std::int8_t chromaFormat = 0;
    std::int8_t colourRange = 0;
    std::int8_t matrix = 0;
    std::vector<WirePlane> planes;
    std::int64_t packedStride = 0;
    std::optional<QByteArray> packedData;
};

class WireCursor {
public:
    explicit WireCursor(const QByteArray& bytes) : bytes_(bytes) {}

    template <typename T>
    T integer()
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            value = (value << 8U) | static_cast<std::uint8_t>(byteAt(offset_ + static_cast<qsizetype>(i)));
        }
        offset_ += static_cast<qsizetype>(sizeof(T));
        return static_cast<T>(value);
    }

    std::optional<QByteArray> byteArray()
    {
        const auto count = integer<std::uint32_t>();
        if (count == 0xFFFFFFFFU) {
            return std::nullopt;
        }
        if (offset_ + static_cast<qsizetype>(count) > bytes_.size()) {
            failed_ = true;
            return QByteArray();
        }
        QByteArray value = bytes_.mid(offset_, static_cast<qsizetype>(count));
        offset_ += static_cast<qsizetype>(count);
        return value;
    }

    [[nodiscard]] qsizetype offset() const { return offset_; }
    [[nodiscard]] bool failed() const { return failed_; }

private:
    char byteAt(qsizetype index)
    {
        if (index >= bytes_.size()) {
            failed_ = true;
            return 0;
        }
        return bytes_[index];
    }

    QByteArray bytes_;
    qsizetype offset_ = 0;
    bool failed_ = false;
};

// Reads one whole packet from the front of `bytes`; empty when the bytes do not hold one yet.
// On success `consumed` is the packet's length.
inline std::optional<WirePacket> readWirePacket(const QByteArray& bytes, qsizetype& consumed)
{
    if (bytes.size() < 16) {
        return std::nullopt;
    }
    WireCursor cursor(bytes);
    WirePacket packet;
    packet.magic = cursor.integer<std::uint32_t>();
    packet.version = cursor.integer<std::uint16_t>();
    packet.flags = cursor.integer<std::uint16_t>();
    packet.bodySize = cursor.integer<std::uint64_t>();
    if (packet.bodySize > 0x10000000ULL || bytes.size() < 16 + static_cast<qsizetype>(packet.bodySize)) {
        return std::nullopt;
    }
    packet.sequence = cursor.integer<std::int64_t>();
    packet.pictureId = cursor.integer<std::int64_t>();
    packet.displayIndex = cursor.integer<std::int64_t>();
    packet.packetIndex = cursor.integer<std::int64_t>();
    packet.decodeIndex = cursor.integer<std::int64_t>();
    packet.pts = cursor.integer<std::int64_t>();
    packet.dts = cursor.integer<std::int64_t>();
    packet.poc = cursor.integer<std::int32_t>();
    packet.pictureType = cursor.integer<std::int8_t>();
    packet.pictureWidth = cursor.integer<std::int32_t>();
    packet.pictureHeight = cursor.integer<std::int32_t>();
    packet.pictureBitDepth = cursor.integer<std::int32_t>();
    packet.frameIndex = cursor.integer<std::int64_t>();
    packet.frameWidth = cursor.integer<std::int32_t>();
    packet.frameHeight = cursor.integer<std::int32_t>();
    packet.frameBitDepth = cursor.integer<std::int32_t>();
    packet.pixelFormatName = cursor.byteArray();
    packet.chromaFormat = cursor.integer<std::int8_t>();
    packet.colourRange = cursor.integer<std::int8_t>();
    packet.matrix = cursor.integer<std::int8_t>();
    const auto planeCount = cursor.integer<std::int8_t>();
    for (int i = 0; i < planeCount && i < 3; ++i) {
        WirePlane plane;
        plane.planeIndex = cursor.integer<std::int8_t>();
        plane.width = cursor.integer<std::int32_t>();
        plane.height = cursor.integer<std::int32_t>();
        plane.stride = cursor.integer<std::int64_t>();
        plane.bytesPerSample = cursor.integer<std::int32_t>();
        plane.samples = cursor.byteArray().value_or(QByteArray());
        packet.planes.push_back(plane);
    }
    packet.packedStride = cursor.integer<std::int64_t>();
    packet.packedData = cursor.byteArray();
    if (cursor.failed() || cursor.offset() != 16 + static_cast<qsizetype>(packet.bodySize)) {
        return std::nullopt;
    }
    consumed = cursor.offset();
    return packet;
}

}  // namespace vexilo::analyzer::testing
