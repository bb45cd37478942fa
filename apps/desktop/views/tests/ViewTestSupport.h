#pragma once

// Helpers the widget tests share: grabbing, pixel checks, screenshots and real decoded clips.

#include "vexilo/media/FFmpegVideoSource.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QString>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace vexilo::test {

inline void showSized(QWidget& widget, int width, int height) {
    widget.resize(width, height);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
}

inline QImage grabImage(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

inline bool sameColour(const QColor& actual, const QColor& expected, int tolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

// True when some pixel within `radius` of the point has the colour (antialiased strokes
// spread over neighbouring pixels).
inline bool colourNear(const QImage& image, QPoint point, const QColor& expected, int tolerance, int radius = 1) {
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint probe = point + QPoint(dx, dy);
            if (image.rect().contains(probe) && sameColour(image.pixelColor(probe), expected, tolerance)) {
                return true;
            }
        }
    }
    return false;
}

// `over` painted with `alpha` (0..255) on `under`.
inline QColor blended(const QColor& under, const QColor& over, int alpha) {
    const auto mix = [alpha](int low, int high) { return (low * (255 - alpha) + high * alpha + 127) / 255; };
    return QColor(mix(under.red(), over.red()), mix(under.green(), over.green()), mix(under.blue(), over.blue()));
}

inline void saveScreenshot(const QImage& image, const QString& fileName) {
    const QString folder = QStringLiteral(VEXILO_TEST_OUTPUT_DIR);
    QDir().mkpath(folder);
    image.save(folder + QLatin1Char('/') + fileName);
}

inline std::vector<media::FFmpegDecodedPicture> decodeTestClip(const char* fileName) {
    std::vector<media::FFmpegDecodedPicture> pictures;
    auto source = media::FFmpegVideoSource::open(std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / fileName);
    if (!source.ok()) {
        return pictures;
    }
    const auto summary = source.value().decodeSequentially(
        [&](media::FFmpegDecodedPicture picture) { pictures.push_back(std::move(picture)); }, {});
    if (!summary.ok()) {
        pictures.clear();
    }
    return pictures;
}

}  // namespace vexilo::test

#include "vexilo/application/PictureThumbnail.h"

namespace vexilo::test {

// A nearest-sample BT.601 limited-range thumbnail of an 8-bit 4:2:0 picture, as the strip
// receives them while a stream decodes.
inline application::PictureThumbnail thumbnailOf(const media::FFmpegDecodedPicture& decoded) {
    application::PictureThumbnail thumbnail;
    const domain::VideoFrame& frame = decoded.frame;
    thumbnail.pictureId = decoded.picture.id;
    thumbnail.displayIndex = static_cast<std::uint64_t>(decoded.picture.displayIndex);
    thumbnail.width = application::kPictureThumbnailWidth;
    thumbnail.height = application::kPictureThumbnailHeight;
    if (frame.planes.size() != 3 || frame.bitDepth != 8) {
        return thumbnail;
    }
    const auto sample = [&](int plane, int x, int y) {
        const domain::VideoPlane& source = frame.planes[static_cast<std::size_t>(plane)];
        return static_cast<double>(source.samples[static_cast<std::size_t>(y * source.stride + x)]);
    };
    const auto toByte = [](double value) { return static_cast<std::uint8_t>(std::clamp(value + 0.5, 0.0, 255.0)); };
    for (int y = 0; y < thumbnail.height; ++y) {
        for (int x = 0; x < thumbnail.width; ++x) {
            const int sx = x * frame.width / thumbnail.width;
            const int sy = y * frame.height / thumbnail.height;
            const double luma = 1.164 * (sample(0, sx, sy) - 16.0);
            const double u = sample(1, sx * frame.planes[1].width / frame.width, sy * frame.planes[1].height / frame.height) - 128.0;
            const double v = sample(2, sx * frame.planes[1].width / frame.width, sy * frame.planes[1].height / frame.height) - 128.0;
            thumbnail.rgba.insert(thumbnail.rgba.end(), {toByte(luma + 1.596 * v), toByte(luma - 0.392 * u - 0.813 * v),
                                                         toByte(luma + 2.017 * u), 255});
        }
    }
    return thumbnail;
}

}  // namespace vexilo::test
