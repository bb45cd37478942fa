#pragma once

#include <cstdint>
#include <span>

namespace vexilo::hevc {

constexpr std::uint64_t kFnv1a64OffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnv1a64Prime = 0x100000001b3ULL;

// FNV-1a 64 over the NAL unit bytes as stored: the content hash of NAL units and payloads.
inline std::uint64_t fnv1a64(std::span<const std::uint8_t> bytes)
{
    std::uint64_t hash = kFnv1a64OffsetBasis;
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * kFnv1a64Prime;
    }
    return hash;
}

} // namespace vexilo::hevc
