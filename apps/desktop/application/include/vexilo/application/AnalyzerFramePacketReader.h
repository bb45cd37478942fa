#pragma once

#include "vexilo/protocol/FramePacket.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <variant>

namespace vexilo::application {

// Why the head of the frame-channel buffer did not yield a packet. Incomplete is not an
// error: the caller keeps the bytes and tries again when more arrive.
enum class FramePacketReadFailureKind : std::int32_t {
    Incomplete = 0,
    TooLarge = 1,
    BadMagic = 2,
    UnsupportedVersion = 3,
    Invalid = 4,
};

struct FramePacketReadFailure {
    FramePacketReadFailureKind kind = FramePacketReadFailureKind::Invalid;
    QString message;
};

struct FramePacketReadSuccess {
    protocol::AnalyzerFramePacket packet;
    std::uint64_t bytesConsumed = 0;  // prefix and body; the caller removes them
};

using FramePacketReadResult = std::variant<FramePacketReadSuccess, FramePacketReadFailure>;

// Reads one packet from the head of `bytes` (the receive buffer, left unchanged). Unlike the
// protocol library's decoder of the same name, this one accepts a buffer holding more than
// one packet, or only part of one.
[[nodiscard]] FramePacketReadResult decodeAnalyzerFramePacket(QByteArrayView bytes);

}  // namespace vexilo::application
