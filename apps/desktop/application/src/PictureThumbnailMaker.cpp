#include "vexilo/application/PictureThumbnailMaker.h"

#include "vexilo/media/SampleConversion.h"
#include "vexilo/media/YuvFrameConversion.h"

#include <limits>
#include <string_view>

namespace vexilo::application {
namespace {

constexpr std::size_t kRgbaBytesPerPixel = 4;
constexpr std::uint8_t kOpaque = 255;
constexpr std::size_t kThumbnailBytes =
    static_cast<std::size_t>(kPictureThumbnailWidth) * kPictureThumbnailHeight * kRgbaBytesPerPixel;

bool planeIsUsable(const domain::VideoPlane& plane)
{
    if (plane.width < 1 || plane.height < 1 || plane.bytesPerSample < 1) {
        return false;
    }
    const std::int64_t rowBytes = static_cast<std::int64_t>(plane.width) * plane.bytesPerSample;
    if (plane.stride < rowBytes) {
        return false;
    }
    std::int64_t planeBytes = 0;
    if (__builtin_mul_overflow(plane.stride, static_cast<std::int64_t>(plane.height), &planeBytes)) {
        return false;
    }
    return static_cast<std::uint64_t>(planeBytes) <= plane.samples.size();
}

bool planesAreUsable(const domain::VideoFrame& frame)
{
    if (frame.planes.size() != domain::kMaxVideoPlanes || frame.width < 1 || frame.height < 1) {
        return false;
    }
    for (const domain::VideoPlane& plane : frame.planes) {
        if (!planeIsUsable(plane)) {
            return false;
        }
    }
    return true;
}

// The source position of thumbnail pixel (x, y): truncating nearest-sample grid.
std::int32_t sourceColumn(std::int32_t x, std::int32_t frameWidth)
{
    return static_cast<std::int32_t>(static_cast<std::int64_t>(x) * frameWidth / kPictureThumbnailWidth);
}

std::int32_t sourceRow(std::int32_t y, std::int32_t frameHeight)
{
    return static_cast<std::int32_t>(static_cast<std::int64_t>(y) * frameHeight / kPictureThumbnailHeight);
}

std::int32_t scaledPosition(std::int32_t position, std::int32_t planeSize, std::int32_t frameSize)
{
    return static_cast<std::int32_t>(static_cast<std::int64_t>(position) * planeSize / frameSize);
}

PictureThumbnail emptyThumbnail(const domain::VideoFrame& frame, std::uint64_t displayIndex)
{
    PictureThumbnail thumbnail;
    thumbnail.pictureId = frame.index;
    thumbnail.displayIndex = displayIndex;
    thumbnail.width = kPictureThumbnailWidth;
    thumbnail.height = kPictureThumbnailHeight;
    return thumbnail;
}

void putPixel(std::vector<std::uint8_t>& rgba, std::int32_t x, std::int32_t y, std::uint8_t r, std::uint8_t g,
              std::uint8_t b)
{
    const std::size_t offset =
        (static_cast<std::size_t>(y) * kPictureThumbnailWidth + static_cast<std::size_t>(x)) * kRgbaBytesPerPixel;
    rgba[offset] = r;
    rgba[offset + 1] = g;
    rgba[offset + 2] = b;
    rgba[offset + 3] = kOpaque;
}

domain::VideoPlane thumbnailPlane(domain::PlaneIndex index)
{
    domain::VideoPlane plane;
    plane.planeIndex = static_cast<std::uint8_t>(index);
    plane.width = kPictureThumbnailWidth;
    plane.height = kPictureThumbnailHeight;
    plane.stride = kPictureThumbnailWidth;
    plane.samples.resize(static_cast<std::size_t>(kPictureThumbnailWidth) * kPictureThumbnailHeight);
    return plane;
}

// The frame's matrix as the display resolves it, so that a frame of the thumbnail's own size
// keeps the weights the full-sized one is shown with.
domain::ColourMatrix resolvedMatrix(const domain::VideoFrame& frame)
{
    if (frame.matrix != domain::ColourMatrix::Unspecified) {
        return frame.matrix;
    }
    const media::YuvCoefficients coefficients = media::displayCoefficientsFor(frame);
    return coefficients.kr == media::kBt709Coefficients.kr ? domain::ColourMatrix::Bt709
                                                           : domain::ColourMatrix::Bt601;
}

// A frame of the thumbnail's size whose every pixel holds the Y, U and V sample the thumbnail
// takes for it, on three planes of full size.
domain::VideoFrame sampledByteFrame(const domain::VideoFrame& frame, const media::YuvPlaneSet& planes)
{
    domain::VideoFrame sampled;
    sampled.width = kPictureThumbnailWidth;
    sampled.height = kPictureThumbnailHeight;
    sampled.bitDepth = frame.bitDepth;
    sampled.colourRange = frame.colourRange;
    sampled.matrix = resolvedMatrix(frame);
    sampled.planes = {thumbnailPlane(domain::PlaneIndex::Y), thumbnailPlane(domain::PlaneIndex::U),
                      thumbnailPlane(domain::PlaneIndex::V)};
    const domain::VideoPlane& chromaSize = *planes.u;
    std::size_t offset = 0;
    for (std::int32_t y = 0; y < kPictureThumbnailHeight; ++y) {
        const std::int32_t sy = sourceRow(y, frame.height);
        const std::int32_t cy = scaledPosition(sy, chromaSize.height, frame.height);
        for (std::int32_t x = 0; x < kPictureThumbnailWidth; ++x, ++offset) {
            const std::int32_t sx = sourceColumn(x, frame.width);
            const std::int32_t cx = scaledPosition(sx, chromaSize.width, frame.width);
            sampled.planes[0].samples[offset] = static_cast<std::uint8_t>(media::readPlaneSample(*planes.y, sx, sy));
            sampled.planes[1].samples[offset] = static_cast<std::uint8_t>(media::readPlaneSample(*planes.u, cx, cy));
            sampled.planes[2].samples[offset] = static_cast<std::uint8_t>(media::readPlaneSample(*planes.v, cx, cy));
        }
    }
    return sampled;
}

bool holdsByteSamples(const domain::VideoFrame& frame, const media::YuvPlaneSet& planes)
{
    return frame.bitDepth >= 1 && frame.bitDepth <= 8 && planes.y->bytesPerSample == 1 &&
           planes.u->bytesPerSample == 1 && planes.v->bytesPerSample == 1;
}

PictureThumbnail planarThumbnail(const domain::VideoFrame& frame, std::uint64_t displayIndex)
{
    PictureThumbnail thumbnail = emptyThumbnail(frame, displayIndex);
    const std::optional<media::YuvPlaneSet> planes = media::findYuvPlanes(frame);
    if (!planes) {
        return thumbnail;
    }
    thumbnail.rgba.resize(kThumbnailBytes);
    if (holdsByteSamples(frame, *planes)) {
        // Every arriving picture gets a thumbnail on the GUI thread: the frame conversion's
        // integer tables give the exact formula's bytes at a fraction of its cost. Wider
        // samples would need tables larger than the thumbnail.
        const domain::VideoFrame sampled = sampledByteFrame(frame, *planes);
        media::convertYuvToRgba(sampled, *media::findYuvPlanes(sampled), media::DisplayComponent::Colour,
                                thumbnail.rgba.data(),
                                static_cast<std::int64_t>(kPictureThumbnailWidth) * kRgbaBytesPerPixel);
        return thumbnail;
    }
    const media::YuvToRgbParameters parameters = media::displayParametersFor(frame);
    const domain::VideoPlane& chromaSize = *planes->u;
    for (std::int32_t y = 0; y < kPictureThumbnailHeight; ++y) {
        const std::int32_t sy = sourceRow(y, frame.height);
        const std::int32_t cy = scaledPosition(sy, chromaSize.height, frame.height);
        for (std::int32_t x = 0; x < kPictureThumbnailWidth; ++x) {
            const std::int32_t sx = sourceColumn(x, frame.width);
            const std::int32_t cx = scaledPosition(sx, chromaSize.width, frame.width);
            const auto rgb = media::yuvToRgbExact(media::readPlaneSample(*planes->y, sx, sy),
                                                  media::readPlaneSample(*planes->u, cx, cy),
                                                  media::readPlaneSample(*planes->v, cx, cy), parameters);
            putPixel(thumbnail.rgba, x, y, rgb[0], rgb[1], rgb[2]);
        }
    }
    return thumbnail;
}

bool isUsablePackedFrame(const domain::VideoFrame& frame)
{
    return frame.pixelFormatName == std::string_view(domain::kPackedRgba8FormatName) && frame.width > 0 &&
           frame.height > 0 &&
           frame.packedStride >= static_cast<std::int64_t>(frame.width) * domain::kPackedRgba8BytesPerPixel;
}

PictureThumbnail packedThumbnail(const domain::VideoFrame& frame, std::uint64_t displayIndex)
{
    PictureThumbnail thumbnail = emptyThumbnail(frame, displayIndex);
    if (!isUsablePackedFrame(frame)) {
        return thumbnail;
    }
    std::vector<std::uint8_t> rgba(kThumbnailBytes);
    for (std::int32_t y = 0; y < kPictureThumbnailHeight; ++y) {
        const std::int64_t sy = sourceRow(y, frame.height);
        std::int64_t rowEnd = 0;
        if (__builtin_mul_overflow(sy + 1, frame.packedStride, &rowEnd) ||
            static_cast<std::uint64_t>(rowEnd) > frame.packedData.size()) {
            return thumbnail;
        }
        for (std::int32_t x = 0; x < kPictureThumbnailWidth; ++x) {
            const auto offset = static_cast<std::size_t>(sy * frame.packedStride +
                                                         std::int64_t{sourceColumn(x, frame.width)} *
                                                             domain::kPackedRgba8BytesPerPixel);
            putPixel(rgba, x, y, frame.packedData[offset], frame.packedData[offset + 1], frame.packedData[offset + 2]);
        }
    }
    thumbnail.rgba = std::move(rgba);
    return thumbnail;
}

}  // namespace

PictureThumbnail makePictureThumbnail(const domain::VideoFrame& frame, std::uint64_t displayIndex)
{
    if (planesAreUsable(frame)) {
        return planarThumbnail(frame, displayIndex);
    }
    return packedThumbnail(frame, displayIndex);
}

}  // namespace vexilo::application
