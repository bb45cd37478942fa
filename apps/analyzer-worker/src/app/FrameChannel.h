#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"

#include <cstdint>

class QLocalSocket;

namespace vexilo::analyzer {

inline constexpr int kFrameChannelConnectTimeoutMs = 3000;
inline constexpr int kFramePacketWriteTimeoutMs = 5000;

// Sends one picture as the task's next frame packet and waits until the peer has taken it, so a
// slow reader slows the analysis down instead of growing memory. The sequence advances even when
// the packet is refused.
[[nodiscard]] bool sendAnalyzerFramePacket(QLocalSocket& socket, std::uint64_t& sequence,
                                           domain::PictureInfo picture, domain::VideoFrame frame);

}  // namespace vexilo::analyzer
