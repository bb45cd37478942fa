#include "FrameImage.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace vexilo {
namespace {

const QString kNoPictureSelected = QStringLiteral("No picture selected");
const QString kDimensionsNotPositive = QStringLiteral("Frame dimensions must be positive");
const QString kUnsupportedPixelFormat = QStringLiteral("Unsupported display pixel format: %1");
const QString kWidthTooLarge = QStringLiteral("Frame width is too large");
const QString kStrideBelowRow = QStringLiteral("Frame stride is smaller than one RGBA row");
const QString kPackedBufferTooSmall = QStringLiteral("Frame buffer is smaller than its dimensions and stride require");
const QString kStrideBeyondQImage = QStringLiteral("Frame stride exceeds the QImage limit");
const QString kPlanesNotThree = QStringLiteral("YUV frame must contain Y, U and V planes");
const QString kPlaneDimensionsNotPositive = QStringLiteral("YUV plane dimensions must be positive");
const QString kPlaneStrideBelowRow = QStringLiteral("YUV plane stride is smaller than one sample row");
const QString kPlaneBufferTooSmall = QStringLiteral("YUV plane buffer is smaller than dimensions require");
const QString kCannotWrapPacked = QStringLiteral("QImage could not wrap the decoded frame buffer");
const QString kPlanesMissing = QStringLiteral("YUV frame is missing one or more planes");
const QString kCannotAllocate = QStringLiteral("QImage could not allocate the YUV display buffer");

constexpr std::uint64_t kMaxPackedWidth = std::uint64_t{1} << 62;
constexpr std::uint64_t kMaxImageStride = std::uint64_t{1} << 63;
constexpr std::size_t kYuvPlaneCount = 3;

// Strides arrive as signed 64-bit values; a negative one is as unusable as a huge one.
std::uint64_t unsignedStride(std::int64_t stride) { return static_cast<std::uint64_t>(stride); }

// height x stride within `available` bytes, without wrapping.
bool fitsBuffer(std::uint64_t height, std::uint64_t stride, std::size_t available)
{
    std::uint64_t needed = 0;
    return !__builtin_mul_overflow(height, stride, &needed) && needed <= available;
}

QString validatePackedFrame(const domain::VideoFrame& frame)
{
    if (frame.pixelFormatName != domain::kPackedRgba8FormatName) {
        return kUnsupportedPixelFormat.arg(QString::fromStdString(frame.pixelFormatName));
    }
    const auto width = static_cast<std::uint64_t>(frame.width);
    if (width >= kMaxPackedWidth) {
        return kWidthTooLarge;
    }
    const std::uint64_t stride = unsignedStride(frame.packedStride);
    if (stride < width * 4) {
        return kStrideBelowRow;
    }
    if (!fitsBuffer(static_cast<std::uint64_t>(frame.height), stride, frame.packedData.size())) {
        return kPackedBufferTooSmall;
    }
    if (stride >= kMaxImageStride) {
        return kStrideBeyondQImage;
    }
    return {};
}

QString validatePlane(const domain::VideoPlane& plane)
{
    if (plane.width < 1 || plane.height < 1 || plane.bytesPerSample < 1) {
        return kPlaneDimensionsNotPositive;
    }
    const std::uint64_t stride = unsignedStride(plane.stride);
    if (stride < static_cast<std::uint64_t>(plane.bytesPerSample) * static_cast<std::uint64_t>(plane.width)) {
        return kPlaneStrideBelowRow;
    }
    if (!fitsBuffer(static_cast<std::uint64_t>(plane.height), stride, plane.samples.size())) {
        return kPlaneBufferTooSmall;
    }
    return {};
}

}  // namespace

QString validateVideoFrame(const domain::VideoFrame& frame)
{
    if (frame.width < 1 || frame.height < 1) {
        return kDimensionsNotPositive;
    }
    if (frame.planes.empty()) {
        return validatePackedFrame(frame);
    }
    if (frame.planes.size() != kYuvPlaneCount) {
        return kPlanesNotThree;
    }
    for (const domain::VideoPlane& plane : frame.planes) {
        if (QString error = validatePlane(plane); !error.isEmpty()) {
            return error;
        }
    }
    return {};
}

QImage makeDisplayImage(const domain::VideoFrame* frame, media::DisplayComponent component, QString& error)
{
    if (frame == nullptr) {
        error = kNoPictureSelected;
        return {};
    }
    error = validateVideoFrame(*frame);
    if (!error.isEmpty()) {
        return {};
    }
    if (frame->planes.empty()) {
        QImage wrapped(frame->packedData.data(), frame->width, frame->height,
                       static_cast<qsizetype>(frame->packedStride), QImage::Format_RGBA8888);
        if (wrapped.isNull()) {
            error = kCannotWrapPacked;
        }
        return wrapped;
    }
    const std::optional<media::YuvPlaneSet> planes = media::findYuvPlanes(*frame);
    if (!planes) {
        error = kPlanesMissing;
        return {};
    }
    QImage image(frame->width, frame->height, QImage::Format_RGBA8888);
    if (image.isNull()) {
        error = kCannotAllocate;
        return {};
    }
    media::convertYuvToRgba(*frame, *planes, component, image.bits(), image.bytesPerLine());
    return image;
}

}  // namespace vexilo
