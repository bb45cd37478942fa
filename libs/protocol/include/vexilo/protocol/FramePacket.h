#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace vexilo::protocol {

// One decoded picture on the frame channel.
struct AnalyzerFramePacket {
    std::uint64_t sequence = 0;  // 1 for a task's first packet, then rising by one
    domain::PictureInfo picture;
    domain::VideoFrame frame;
};

inline constexpr std::uint32_t kFramePacketMagic = 0x56584652U;  // "VXFR"
inline constexpr std::uint16_t kFramePacketVersion = 1;
inline constexpr std::uint16_t kFramePacketFlags = 0;
inline constexpr qsizetype kFramePacketHeaderSize = 16;
inline constexpr std::uint64_t kMaxFramePacketBodySize = 0x10000000ULL;  // 256 MiB

struct FramePacketHeader {
    std::uint32_t magic = 0;
    std::uint16_t version = 0;
    std::uint16_t flags = 0;
    std::uint64_t bodySize = 0;
};

struct FramePacketDecodeError {
    QString message;
};

using FramePacketDecodeResult = std::variant<AnalyzerFramePacket, FramePacketDecodeError>;

// Header and body as one array, or an empty array when the packet is refused.
[[nodiscard]] QByteArray serializeAnalyzerFramePacket(const AnalyzerFramePacket& packet);

// The same bytes written over `bytes`, whose allocation is kept for the next packet: a sender
// of many frames then reuses one buffer of a frame's size. False (and `bytes` empty) when the
// packet is refused.
[[nodiscard]] bool serializeAnalyzerFramePacketInto(const AnalyzerFramePacket& packet, QByteArray& bytes);

// A packet as the bytes around its plane samples, for a writer that sends the samples from the
// frame's own planes: they are nearly all of a packet, and copying megabytes into one array per
// frame costs a full pass over them. Framing up to sampleCuts[0], plane 0's samples, framing up
// to sampleCuts[1], plane 1's samples, and so on, then the rest of the framing, are the bytes
// serializeAnalyzerFramePacket makes.
struct FramePacketFraming {
    QByteArray bytes;
    std::vector<qsizetype> sampleCuts;  // one per plane, in plane order
};

// The bytes of all the frame's plane samples: what a packet holds beyond its framing.
[[nodiscard]] std::uint64_t planeSampleBytes(const domain::VideoFrame& frame);

// The framing of the packet written over `framing`, whose allocations are kept. False (and the
// framing empty) when the packet is refused.
[[nodiscard]] bool serializeAnalyzerFramePacketFramingInto(const AnalyzerFramePacket& packet,
                                                          FramePacketFraming& framing);

// The 16 header bytes, unchecked; empty when fewer than 16 bytes are given.
[[nodiscard]] std::optional<FramePacketHeader> readFramePacketHeader(QByteArrayView bytes);

// Checks magic, version and body limit of a header; the problem text, or empty when usable.
[[nodiscard]] QString framePacketHeaderProblem(const FramePacketHeader& header);

// Decodes one body (the bytes after the header) and applies the acceptance rules.
[[nodiscard]] FramePacketDecodeResult decodeFramePacketBody(QByteArrayView body);

// Decodes a whole packet (header and exactly its body) and applies the acceptance rules.
[[nodiscard]] FramePacketDecodeResult decodeAnalyzerFramePacket(QByteArrayView packet);

// Samples a plane must hold: the frame size for luma and 4:4:4 chroma; chroma of 4:2:2 and
// 4:2:0 halved across (rounded up), and 4:2:0 halved down as well.
struct PlaneExtent {
    std::int32_t width = 0;
    std::int32_t height = 0;
};
[[nodiscard]] PlaneExtent expectedPlaneExtent(const domain::VideoFrame& frame, std::size_t planeIndex);

// The acceptance rules both sides apply before trusting a packet: empty when acceptable,
// else what is wrong. Beyond the field ranges, they make sure that every buffer holds the
// bytes its declared sizes promise, so a reader never indexes past the end.
[[nodiscard]] QString framePacketProblem(const AnalyzerFramePacket& packet);
[[nodiscard]] QString videoFrameLayoutProblem(const domain::VideoFrame& frame);

}  // namespace vexilo::protocol
