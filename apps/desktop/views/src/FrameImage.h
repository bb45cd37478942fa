#pragma once

#include "vexilo/domain/VideoFrame.h"
#include "vexilo/media/YuvFrameConversion.h"

#include <QImage>
#include <QString>

namespace vexilo {

// Empty when the frame can be shown, else the first reason it cannot.
[[nodiscard]] QString validateVideoFrame(const domain::VideoFrame& frame);

// The frame as an RGBA8888 image: a packed "rgba8" frame is wrapped without a copy (the image
// then refers to the frame's buffer, which the caller keeps alive), a planar frame is converted.
// A null image with `error` set when the frame cannot be shown.
[[nodiscard]] QImage makeDisplayImage(const domain::VideoFrame* frame, media::DisplayComponent component,
                                      QString& error);

}  // namespace vexilo
