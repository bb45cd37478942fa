#include "vexilo/media/YuvFrameConversion.h"

#include "SampleConversionDetail.h"
#include "vexilo/media/SampleConversion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <thread>
#include <vector>

namespace vexilo::media {
namespace {

// Fixed-point channel values carry this many fraction bits: far finer than the error of the
// double-precision definition, so the two can only round differently right at a half.
constexpr int kFractionBits = 32;
constexpr std::int64_t kOne = std::int64_t{1} << kFractionBits;
constexpr std::int64_t kHalf = kOne / 2;
constexpr std::int64_t kFractionMask = kOne - 1;
// A fraction this close to one half is settled by the double-precision definition itself.
constexpr std::int64_t kTieWindow = std::int64_t{1} << (kFractionBits - 20);

constexpr std::size_t kByteSampleValues = 256;
constexpr std::size_t kMaxConversionThreads = 4;
constexpr std::size_t kMinimumRowsPerBand = 128;
constexpr std::size_t kWordSampleValues = 65536;

std::int64_t toFixed(double value) {
    return std::llround(std::ldexp(value, kFractionBits));
}

// Byte offsets of the samples one plane contributes to each output column and row.
struct PlaneWalk {
    const std::uint8_t* samples = nullptr;
    std::int32_t bytesPerSample = 1;
    std::vector<std::int64_t> columnOffsets;
    std::vector<std::int64_t> rowOffsets;
};

// `scaledWidth`/`scaledHeight` map output coordinates onto a plane of that size by
// (x * scaledWidth) / width; the result is clamped into `plane`.
PlaneWalk makePlaneWalk(const domain::VideoPlane& plane, std::int32_t width, std::int32_t height,
                        std::int64_t scaledWidth, std::int64_t scaledHeight) {
    PlaneWalk walk;
    walk.samples = plane.samples.data();
    walk.bytesPerSample = plane.bytesPerSample;
    walk.columnOffsets.resize(static_cast<std::size_t>(width));
    walk.rowOffsets.resize(static_cast<std::size_t>(height));
    for (std::int64_t x = 0; x < width; ++x) {
        const std::int64_t column = std::clamp<std::int64_t>(x * scaledWidth / width, 0, plane.width - 1);
        walk.columnOffsets[static_cast<std::size_t>(x)] = column * plane.bytesPerSample;
    }
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t row = std::clamp<std::int64_t>(y * scaledHeight / height, 0, plane.height - 1);
        walk.rowOffsets[static_cast<std::size_t>(y)] = row * plane.stride;
    }
    return walk;
}

// `BytesPerSample` 0 reads by the plane's own sample width.
template <std::int32_t BytesPerSample>
std::uint32_t sampleAt(const std::uint8_t* row, std::int64_t columnOffset, std::int32_t planeBytesPerSample) {
    const std::uint8_t* sample = row + columnOffset;
    const std::int32_t width = BytesPerSample == 0 ? planeBytesPerSample : BytesPerSample;
    return width == 1 ? sample[0] : static_cast<std::uint32_t>(sample[0] | (sample[1] << 8));
}

// Per-sample fixed-point contributions to 255 x R, G and B.
struct ColourTables {
    std::vector<std::int64_t> luma;
    std::vector<std::int64_t> crToRed;
    std::vector<std::int64_t> crToGreen;
    std::vector<std::int64_t> cbToGreen;
    std::vector<std::int64_t> cbToBlue;
};

ColourTables makeColourTables(const YuvToRgbParameters& parameters, std::size_t sampleValues) {
    const double kr = parameters.coefficients.kr;
    const double kb = parameters.coefficients.kb;
    const double kg = 1.0 - kr - kb;
    ColourTables tables;
    for (std::vector<std::int64_t>* table :
         {&tables.luma, &tables.crToRed, &tables.crToGreen, &tables.cbToGreen, &tables.cbToBlue}) {
        table->resize(sampleValues);
    }
    for (std::size_t value = 0; value < sampleValues; ++value) {
        const auto sample = static_cast<std::uint32_t>(value);
        const double luma = detail::normalisedLuma(sample, parameters);
        const double chroma = detail::normalisedChroma(sample, parameters);
        tables.luma[value] = toFixed(255.0 * luma);
        tables.crToRed[value] = toFixed(255.0 * 2.0 * (1.0 - kr) * chroma);
        tables.crToGreen[value] = toFixed(-255.0 * kr * 2.0 * (1.0 - kr) * chroma / kg);
        tables.cbToGreen[value] = toFixed(-255.0 * kb * 2.0 * (1.0 - kb) * chroma / kg);
        tables.cbToBlue[value] = toFixed(255.0 * 2.0 * (1.0 - kb) * chroma);
    }
    return tables;
}

bool isNearHalf(std::int64_t fixedValue) {
    const std::int64_t fraction = (fixedValue + kHalf) & kFractionMask;
    return fraction < kTieWindow || fraction > kFractionMask - kTieWindow;
}

std::uint8_t roundToByte(std::int64_t fixedValue) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>((fixedValue + kHalf) >> kFractionBits, 0, 255));
}

class FrameConverter {
public:
    FrameConverter(const domain::VideoFrame& frame, const YuvPlaneSet& planes, std::uint8_t* destination,
                   std::int64_t destinationStride)
        : frame_(frame), destination_(destination), destinationStride_(destinationStride) {
        const std::int64_t chromaWidth = planes.u->width;
        const std::int64_t chromaHeight = planes.u->height;
        walks_[0] = makePlaneWalk(*planes.y, frame.width, frame.height, frame.width, frame.height);
        walks_[1] = makePlaneWalk(*planes.u, frame.width, frame.height, chromaWidth, chromaHeight);
        walks_[2] = makePlaneWalk(*planes.v, frame.width, frame.height, chromaWidth, chromaHeight);
        const bool allBytes = std::all_of(walks_.begin(), walks_.end(), [](const PlaneWalk& walk) {
            return walk.bytesPerSample == 1;
        });
        const bool allWords = std::all_of(walks_.begin(), walks_.end(), [](const PlaneWalk& walk) {
            return walk.bytesPerSample == 2;
        });
        sampleWidth_ = allBytes ? 1 : allWords ? 2 : 0;
        sampleValues_ = allBytes ? kByteSampleValues : kWordSampleValues;
    }

    void convertColour() {
        const YuvToRgbParameters parameters = displayParametersFor(frame_);
        const ColourTables tables = makeColourTables(parameters, sampleValues_);
        forEachPixel([&](std::uint32_t y, std::uint32_t u, std::uint32_t v, std::uint8_t* pixel) {
            const std::int64_t luma = tables.luma[y];
            const std::int64_t red = luma + tables.crToRed[v];
            const std::int64_t green = luma + tables.cbToGreen[u] + tables.crToGreen[v];
            const std::int64_t blue = luma + tables.cbToBlue[u];
            if (isNearHalf(red) || isNearHalf(green) || isNearHalf(blue)) {
                const std::array<std::uint8_t, 3> exact = yuvToRgbExact(y, u, v, parameters);
                pixel[0] = exact[0];
                pixel[1] = exact[1];
                pixel[2] = exact[2];
            } else {
                pixel[0] = roundToByte(red);
                pixel[1] = roundToByte(green);
                pixel[2] = roundToByte(blue);
            }
            pixel[3] = 255;
        });
    }

    void convertGrey(std::size_t planeSlot) {
        std::vector<std::uint8_t> grey(sampleValues_);
        for (std::size_t value = 0; value < grey.size(); ++value) {
            grey[value] = scaleSampleTo8Bits(static_cast<std::uint32_t>(value), frame_.bitDepth);
        }
        forEachPixel([&](std::uint32_t y, std::uint32_t u, std::uint32_t v, std::uint8_t* pixel) {
            const std::uint32_t sample = planeSlot == 0 ? y : planeSlot == 1 ? u : v;
            const std::uint8_t level = grey[sample];
            pixel[0] = level;
            pixel[1] = level;
            pixel[2] = level;
            pixel[3] = 255;
        });
    }

private:
    // Bands of rows go to a few threads: the tables are shared read-only and every band writes
    // rows of its own.
    template <typename PixelWriter>
    void forEachPixel(const PixelWriter& write) {
        const auto rows = static_cast<std::size_t>(frame_.height);
        const std::size_t bands = std::clamp<std::size_t>(
            std::min<std::size_t>(std::thread::hardware_concurrency(), kMaxConversionThreads), 1,
            std::max<std::size_t>(rows / kMinimumRowsPerBand, 1));
        const auto walkBand = [&](std::size_t band) {
            const std::size_t first = rows * band / bands;
            const std::size_t last = rows * (band + 1) / bands;
            switch (sampleWidth_) {
            case 1:
                walkRows<1>(write, first, last);
                break;
            case 2:
                walkRows<2>(write, first, last);
                break;
            default:
                walkRows<0>(write, first, last);
                break;
            }
        };
        std::vector<std::jthread> helpers;
        for (std::size_t band = 1; band < bands; ++band) {
            helpers.emplace_back(walkBand, band);
        }
        walkBand(0);
    }

    template <std::int32_t BytesPerSample, typename PixelWriter>
    void walkRows(const PixelWriter& write, std::size_t firstRow, std::size_t lastRow) {
        const PlaneWalk& yWalk = walks_[0];
        const PlaneWalk& uWalk = walks_[1];
        const PlaneWalk& vWalk = walks_[2];
        for (std::size_t row = firstRow; row < lastRow; ++row) {
            const std::uint8_t* yRow = yWalk.samples + yWalk.rowOffsets[row];
            const std::uint8_t* uRow = uWalk.samples + uWalk.rowOffsets[row];
            const std::uint8_t* vRow = vWalk.samples + vWalk.rowOffsets[row];
            std::uint8_t* pixel = destination_ + static_cast<std::int64_t>(row) * destinationStride_;
            for (std::size_t column = 0; column < static_cast<std::size_t>(frame_.width); ++column, pixel += 4) {
                write(sampleAt<BytesPerSample>(yRow, yWalk.columnOffsets[column], yWalk.bytesPerSample),
                      sampleAt<BytesPerSample>(uRow, uWalk.columnOffsets[column], uWalk.bytesPerSample),
                      sampleAt<BytesPerSample>(vRow, vWalk.columnOffsets[column], vWalk.bytesPerSample), pixel);
            }
        }
    }

    const domain::VideoFrame& frame_;
    std::uint8_t* destination_;
    std::int64_t destinationStride_;
    std::array<PlaneWalk, 3> walks_;
    std::int32_t sampleWidth_ = 0;
    std::size_t sampleValues_ = kWordSampleValues;
};

const domain::VideoPlane* findPlane(const domain::VideoFrame& frame, domain::PlaneIndex index) noexcept {
    const auto found = std::find_if(frame.planes.begin(), frame.planes.end(), [&](const domain::VideoPlane& plane) {
        return plane.planeIndex == static_cast<std::uint8_t>(index);
    });
    return found == frame.planes.end() ? nullptr : &*found;
}

}  // namespace

std::optional<YuvPlaneSet> findYuvPlanes(const domain::VideoFrame& frame) noexcept {
    YuvPlaneSet planes{findPlane(frame, domain::PlaneIndex::Y), findPlane(frame, domain::PlaneIndex::U),
                       findPlane(frame, domain::PlaneIndex::V)};
    if (planes.y == nullptr || planes.u == nullptr || planes.v == nullptr) {
        return std::nullopt;
    }
    return planes;
}

void convertYuvToRgba(const domain::VideoFrame& frame, const YuvPlaneSet& planes, DisplayComponent component,
                      std::uint8_t* destination, std::int64_t destinationStride) {
    if (frame.width < 1 || frame.height < 1) {
        return;
    }
    FrameConverter converter(frame, planes, destination, destinationStride);
    switch (component) {
    case DisplayComponent::Colour:
        converter.convertColour();
        break;
    case DisplayComponent::Y:
        converter.convertGrey(0);
        break;
    case DisplayComponent::U:
        converter.convertGrey(1);
        break;
    case DisplayComponent::V:
        converter.convertGrey(2);
        break;
    }
}

}  // namespace vexilo::media
