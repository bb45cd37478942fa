#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vexilo::domain {

// Identity of one picture within one opened stream; the key of picture tables and frame caches.
using PictureId = std::int64_t;

// Coded picture type as both programs show it; anything but I, P and B is None.
enum class PictureType : std::uint8_t {
    None = 0,
    I = 1,
    P = 2,
    B = 3,
};

inline constexpr std::uint8_t kMaxPictureTypeCode = 3;

// One decoded picture: what it is, not its samples. Same field order in both programs.
struct PictureInfo {
    PictureId id = 0;
    std::int64_t displayIndex = 0;
    std::optional<std::int64_t> packetIndex;
    std::optional<std::int64_t> decodeIndex;
    std::optional<std::int64_t> pts;
    std::optional<std::int64_t> dts;
    std::optional<std::int32_t> poc;
    PictureType pictureType = PictureType::None;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitDepth = 0;

    friend bool operator==(const PictureInfo&, const PictureInfo&) = default;
};

using PictureInfoBatch = std::vector<PictureInfo>;

}  // namespace vexilo::domain
