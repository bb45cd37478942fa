#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/VideoFrame.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QString>
#include <QTest>

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace vexilo::test {

// Mesa unloads its software driver when the last GL context goes, so LeakSanitizer cannot name
// the frames of the driver's own leftovers at exit and no suppression can match them. Pinning
// the driver keeps its frames named.
inline void keepOpenGlDriverLoaded()
{
    static void* const driver =
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    static void* const pinned = driver != nullptr
                                    ? driver
                                    : dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    (void)pinned;
}

inline analysis::StableId idOf(std::uint64_t low) { return {0x5EED, low}; }

// A planar frame with every sample of a plane at one value; 2-byte samples above 8 bits.
inline domain::VideoFrame makeFlatYuvFrame(std::int32_t width, std::int32_t height, std::int32_t bitDepth,
                                           std::uint32_t y, std::uint32_t u, std::uint32_t v,
                                           domain::ChromaFormat chroma = domain::ChromaFormat::Yuv420)
{
    domain::VideoFrame frame;
    frame.width = width;
    frame.height = height;
    frame.bitDepth = bitDepth;
    frame.pixelFormatName = bitDepth > 8 ? "yuv420p10le" : "yuv420p";
    frame.chromaFormat = chroma;
    frame.colourRange = domain::ColourRange::Limited;
    const std::int32_t bytes = bitDepth > 8 ? 2 : 1;
    const std::int32_t chromaWidth = chroma == domain::ChromaFormat::Yuv444 ? width : (width + 1) / 2;
    const std::int32_t chromaHeight = chroma == domain::ChromaFormat::Yuv420 ? (height + 1) / 2 : height;
    const std::uint32_t values[] = {y, u, v};
    for (std::uint8_t index = 0; index < 3; ++index) {
        domain::VideoPlane plane;
        plane.planeIndex = index;
        plane.width = index == 0 ? width : chromaWidth;
        plane.height = index == 0 ? height : chromaHeight;
        plane.bytesPerSample = bytes;
        plane.stride = static_cast<std::int64_t>(plane.width) * bytes;
        const auto count = static_cast<std::size_t>(plane.width) * static_cast<std::size_t>(plane.height);
        plane.samples.reserve(count * static_cast<std::size_t>(bytes));
        for (std::size_t sample = 0; sample < count; ++sample) {
            plane.samples.push_back(static_cast<std::uint8_t>(values[index] & 0xFFU));
            if (bytes == 2) {
                plane.samples.push_back(static_cast<std::uint8_t>(values[index] >> 8));
            }
        }
        frame.planes.push_back(std::move(plane));
    }
    return frame;
}

inline domain::VideoFramePtr share(domain::VideoFrame frame, std::int64_t index = 7)
{
    frame.index = index;
    return std::make_shared<const domain::VideoFrame>(std::move(frame));
}

// A one-picture document built block by block, as the worker's picture documents look.
class DocumentBuilder {
public:
    explicit DocumentBuilder(std::uint64_t pictureId)
    {
        document_.id = idOf(1);
        analysis::PictureAnalysisSummary picture;
        picture.id = idOf(2);
        picture.pictureId = pictureId;
        document_.pictures.push_back(picture);
    }

    static analysis::BlockRect rect(int x, int y, int width, int height)
    {
        return {x, y, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                analysis::kBlockRectUnitLumaSample};
    }

    analysis::StableId ctu(std::uint64_t id, int x, int y, int size = 64)
    {
        analysis::CtuInfo ctu;
        ctu.id = idOf(id);
        ctu.parentPictureSummaryId = idOf(2);
        ctu.bounds = rect(x, y, size, size);
        ctu.parseStatus = analysis::BlockParseStatus::Parsed;
        document_.ctus.push_back(ctu);
        return ctu.id;
    }

    analysis::StableId cu(std::uint64_t id, analysis::StableId ctuId, analysis::BlockRect bounds,
                          std::optional<std::int16_t> qp = 30, std::optional<analysis::StableId> parentCu = {})
    {
        analysis::CuInfo cu;
        cu.id = idOf(id);
        cu.parentCtuId = ctuId;
        cu.parentCuId = parentCu;
        cu.bounds = bounds;
        cu.qp = qp;
        cu.parseStatus = analysis::BlockParseStatus::Parsed;
        document_.cus.push_back(cu);
        return cu.id;
    }

    analysis::StableId tu(std::uint64_t id, analysis::StableId cuId, analysis::BlockRect bounds)
    {
        analysis::TuInfo tu;
        tu.id = idOf(id);
        tu.parentCuId = cuId;
        tu.bounds = bounds;
        tu.parseStatus = analysis::BlockParseStatus::Parsed;
        document_.tus.push_back(tu);
        return tu.id;
    }

    analysis::StableId pu(std::uint64_t id, analysis::StableId cuId, analysis::BlockRect bounds)
    {
        analysis::PuInfo pu;
        pu.id = idOf(id);
        pu.parentCuId = cuId;
        pu.bounds = bounds;
        pu.parseStatus = analysis::BlockParseStatus::Parsed;
        document_.pus.push_back(pu);
        return pu.id;
    }

    analysis::StableId motionVector(std::uint64_t id, analysis::StableId puId, int x, int y,
                                    analysis::ReferenceList list = analysis::ReferenceList::L0)
    {
        analysis::MotionVectorInfo vector;
        vector.id = idOf(id);
        vector.parentPuId = puId;
        vector.list = list;
        vector.mvX = x;
        vector.mvY = y;
        vector.unit = analysis::MotionVectorUnit::QuarterLumaSample;
        vector.referenceStatus = analysis::ReferenceStatus::Available;
        document_.motionVectors.push_back(vector);
        return vector.id;
    }

    analysis::StreamAnalysis& document() { return document_; }
    std::shared_ptr<const analysis::StreamAnalysis> share() const
    {
        return std::make_shared<const analysis::StreamAnalysis>(document_);
    }

private:
    analysis::StreamAnalysis document_;
};

// `colour` at its alpha over `base`, as the painter blends it.
inline QColor blended(const QColor& colour, const QColor& base)
{
    const double alpha = colour.alphaF();
    const auto mix = [&](int over, int under) {
        return static_cast<int>(std::lround(over * alpha + under * (1.0 - alpha)));
    };
    return {mix(colour.red(), base.red()), mix(colour.green(), base.green()), mix(colour.blue(), base.blue())};
}

inline bool closeTo(const QColor& actual, const QColor& expected, int tolerance = 4)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

inline QString describe(const QColor& colour)
{
    return QStringLiteral("(%1, %2, %3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

// Saves a picture for a person to look at.
inline void saveScreenshot(const QImage& image, const QString& name)
{
    const QString directory = QStringLiteral(VEXILO_TEST_OUTPUT_DIR);
    QDir().mkpath(directory);
    QVERIFY2(image.save(directory + QLatin1Char('/') + name), qPrintable(name));
}

}  // namespace vexilo::test

#define VEXILO_COMPARE_COLOUR(actual, expected)                                                               \
    QVERIFY2(::vexilo::test::closeTo((actual), (expected)),                                                   \
             qPrintable(::vexilo::test::describe(actual) + QStringLiteral(" != ") +                           \
                        ::vexilo::test::describe(expected)))
