#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"

namespace vexilo::media {

// One output picture of the in-process decoder: what it is and its planar samples.
struct FFmpegDecodedPicture {
    domain::PictureInfo picture;
    domain::VideoFrame frame;
};

}  // namespace vexilo::media
