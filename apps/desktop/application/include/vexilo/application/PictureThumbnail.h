#pragma once

#include "vexilo/domain/PictureInfo.h"

#include <cstdint>
#include <vector>

namespace vexilo::application {

inline constexpr std::int32_t kPictureThumbnailWidth = 120;
inline constexpr std::int32_t kPictureThumbnailHeight = 68;

// A small picture-strip image of one decoded picture. An empty `rgba` stands for no
// thumbnail and is never handed on.
struct PictureThumbnail {
    domain::PictureId pictureId = 0;
    std::uint64_t displayIndex = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgba;  // width x height x 4 bytes, rows top to bottom, R G B A
};

}  // namespace vexilo::application
