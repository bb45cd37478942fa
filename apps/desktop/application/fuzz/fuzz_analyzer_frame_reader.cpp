// Feeds an arbitrary byte stream to the frame-packet reader the way the frame channel does:
// in chunks split at points chosen by the input's first four bytes, decoding from the head of
// a growing buffer. Every accepted packet must be safe for the viewer: its planes are walked
// to their last sample and the frame goes through the shared frame validation.
#include "vexilo/application/AnalyzerFramePacketReader.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using vexilo::application::FramePacketReadFailure;
using vexilo::application::FramePacketReadFailureKind;
using vexilo::application::FramePacketReadSuccess;

constexpr std::size_t kSplitSeedBytes = 4;
constexpr std::uint32_t kMaxChunkBytes = 4096;

// The geometry the reader promises: sizes fit the frame, rows fit their stride, and every
// sample a viewer may read lies inside the sample bytes.
void checkPlanes(const vexilo::domain::VideoFrame& frame)
{
    for (const vexilo::domain::VideoPlane& plane : frame.planes) {
        const vexilo::protocol::PlaneExtent extent = vexilo::protocol::expectedPlaneExtent(frame, plane.planeIndex);
        const std::int64_t rowBytes = static_cast<std::int64_t>(plane.width) * plane.bytesPerSample;
        const bool sane = (plane.bytesPerSample == 1 || plane.bytesPerSample == 2) && plane.width == extent.width &&
                          plane.height == extent.height && plane.stride >= rowBytes &&
                          static_cast<std::uint64_t>(plane.stride) * static_cast<std::uint64_t>(plane.height) ==
                              plane.samples.size();
        if (!sane) {
            std::abort();
        }
        volatile std::uint8_t sink = 0;
        for (std::int32_t row = 0; row < plane.height; ++row) {
            const std::size_t last = static_cast<std::size_t>(row * plane.stride + rowBytes - 1);
            sink = static_cast<std::uint8_t>(sink ^ plane.samples[last]);
        }
    }
}

// The stream is over when the reader refuses it; the client then ends the worker.
bool drain(QByteArray& buffer)
{
    while (!buffer.isEmpty()) {
        vexilo::application::FramePacketReadResult result = vexilo::application::decodeAnalyzerFramePacket(buffer);
        if (const auto* failure = std::get_if<FramePacketReadFailure>(&result)) {
            return failure->kind == FramePacketReadFailureKind::Incomplete;
        }
        const auto& success = std::get<FramePacketReadSuccess>(result);
        if (success.bytesConsumed == 0 || success.bytesConsumed > static_cast<std::uint64_t>(buffer.size())) {
            std::abort();
        }
        checkPlanes(success.packet.frame);
        (void)vexilo::protocol::videoFrameLayoutProblem(success.packet.frame);
        buffer.remove(0, static_cast<qsizetype>(success.bytesConsumed));
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kSplitSeedBytes) {
        return 0;
    }
    std::uint32_t state = 0;
    for (std::size_t i = 0; i < kSplitSeedBytes; ++i) {
        state = (state << 8U) | data[i];
    }
    QByteArray buffer;
    std::size_t offset = kSplitSeedBytes;
    while (offset < size) {
        state = state * 1664525U + 1013904223U;  // split points: a small LCG, reproducible per input
        const std::size_t chunk = std::min<std::size_t>(1 + (state >> 8U) % kMaxChunkBytes, size - offset);
        buffer.append(reinterpret_cast<const char*>(data + offset), static_cast<qsizetype>(chunk));
        offset += chunk;
        if (!drain(buffer)) {
            return 0;
        }
    }
    return 0;
}
