#include "WindowedSsim.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace vexilo::media {
namespace {

using domain::VideoPlane;

// Windows are 2 x 2 blocks of 4 x 4 samples and step by one block, so each block's sums
// serve four windows.
constexpr std::int32_t kBlockSide = 4;
constexpr std::int64_t kWindowSamples = 64;
constexpr double kSsimK1 = 0.01;
constexpr double kSsimK2 = 0.03;

struct BlockSums {
    std::int64_t reference = 0;
    std::int64_t encoded = 0;
    std::int64_t squares = 0;  // Σx² + Σy²
    std::int64_t cross = 0;    // Σxy
};

// The filter's stabilising constants, scaled to its sums over 64 samples and rounded as it
// rounds them.
struct SsimConstants {
    std::int64_t c1 = 0;
    std::int64_t c2 = 0;
};

SsimConstants constantsFor(std::int32_t bitDepth) {
    const double peak = static_cast<double>((std::int64_t{1} << bitDepth) - 1);
    const auto window = static_cast<double>(kWindowSamples);
    return SsimConstants{
        static_cast<std::int64_t>(kSsimK1 * kSsimK1 * peak * peak * window + 0.5),
        static_cast<std::int64_t>(kSsimK2 * kSsimK2 * peak * peak * window * (window - 1.0) + 0.5)};
}

double windowScore(const BlockSums& topLeft, const BlockSums& topRight, const BlockSums& bottomLeft,
                   const BlockSums& bottomRight, const SsimConstants& constants) {
    const std::int64_t s1 = topLeft.reference + topRight.reference + bottomLeft.reference + bottomRight.reference;
    const std::int64_t s2 = topLeft.encoded + topRight.encoded + bottomLeft.encoded + bottomRight.encoded;
    const std::int64_t ss = topLeft.squares + topRight.squares + bottomLeft.squares + bottomRight.squares;
    const std::int64_t s12 = topLeft.cross + topRight.cross + bottomLeft.cross + bottomRight.cross;
    const std::int64_t variances = ss * kWindowSamples - s1 * s1 - s2 * s2;
    const std::int64_t covariance = s12 * kWindowSamples - s1 * s2;
    const auto numerator =
        static_cast<double>(2 * s1 * s2 + constants.c1) * static_cast<double>(2 * covariance + constants.c2);
    const auto denominator =
        static_cast<double>(s1 * s1 + s2 * s2 + constants.c1) * static_cast<double>(variances + constants.c2);
    // Only at a 1-bit depth (c1 rounds to 0) can two black windows meet here; they are alike.
    return denominator == 0.0 ? 1.0 : numerator / denominator;
}

// One sample; wide samples are stored little-endian.
template <typename Sample>
Sample loadSample(const std::uint8_t* row, std::size_t column) {
    if constexpr (sizeof(Sample) == 1 || std::endian::native == std::endian::little) {
        Sample value{};
        std::memcpy(&value, row + column * sizeof(Sample), sizeof(Sample));
        return value;
    } else {
        return static_cast<Sample>(row[2 * column] | (row[2 * column + 1] << 8));
    }
}

// Per-column sums over the four rows of one block row, then folded into block sums.
// `Accumulator` is wide enough for four rows of the sample type's squares.
template <typename Sample, typename Accumulator>
class BlockRowSummer {
public:
    BlockRowSummer(const VideoPlane& reference, const VideoPlane& encoded, const PlaneArea& area)
        : reference_(reference), encoded_(encoded), area_(area),
          blocks_(static_cast<std::size_t>(area.width / kBlockSide)), columns_(blocks_ * kBlockSide),
          sumX_(columns_), sumY_(columns_), squares_(columns_), cross_(columns_) {}

    [[nodiscard]] std::size_t blocks() const { return blocks_; }

    void sum(std::int32_t blockRow, std::vector<BlockSums>& out) {
        std::fill(sumX_.begin(), sumX_.end(), Accumulator{0});
        std::fill(sumY_.begin(), sumY_.end(), Accumulator{0});
        std::fill(squares_.begin(), squares_.end(), Accumulator{0});
        std::fill(cross_.begin(), cross_.end(), Accumulator{0});
        for (std::int32_t line = 0; line < kBlockSide; ++line) {
            const std::int32_t row = area_.y + blockRow * kBlockSide + line;
            addRow(rowStart(reference_, row), rowStart(encoded_, row));
        }
        for (std::size_t block = 0; block < blocks_; ++block) {
            BlockSums sums;
            for (std::size_t column = block * kBlockSide; column < (block + 1) * kBlockSide; ++column) {
                sums.reference += static_cast<std::int64_t>(sumX_[column]);
                sums.encoded += static_cast<std::int64_t>(sumY_[column]);
                sums.squares += static_cast<std::int64_t>(squares_[column]);
                sums.cross += static_cast<std::int64_t>(cross_[column]);
            }
            out[block] = sums;
        }
    }

private:
    [[nodiscard]] const std::uint8_t* rowStart(const VideoPlane& plane, std::int32_t row) const {
        return plane.samples.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(plane.stride) +
               static_cast<std::size_t>(area_.x) * sizeof(Sample);
    }

    void addRow(const std::uint8_t* referenceRow, const std::uint8_t* encodedRow) {
        for (std::size_t column = 0; column < columns_; ++column) {
            const auto x = static_cast<Accumulator>(loadSample<Sample>(referenceRow, column));
            const auto y = static_cast<Accumulator>(loadSample<Sample>(encodedRow, column));
            sumX_[column] += x;
            sumY_[column] += y;
            squares_[column] += x * x + y * y;
            cross_[column] += x * y;
        }
    }

    const VideoPlane& reference_;
    const VideoPlane& encoded_;
    PlaneArea area_;
    std::size_t blocks_;
    std::size_t columns_;
    std::vector<Accumulator> sumX_;
    std::vector<Accumulator> sumY_;
    std::vector<Accumulator> squares_;
    std::vector<Accumulator> cross_;
};

template <typename Sample, typename Accumulator>
double meanWindowScore(const VideoPlane& reference, const VideoPlane& encoded, const SsimConstants& constants,
                       const PlaneArea& area) {
    BlockRowSummer<Sample, Accumulator> summer(reference, encoded, area);
    const std::int32_t blockRows = area.height / kBlockSide;
    std::vector<BlockSums> above(summer.blocks());
    std::vector<BlockSums> below(summer.blocks());
    summer.sum(0, above);
    double total = 0.0;
    for (std::int32_t blockRow = 1; blockRow < blockRows; ++blockRow) {
        summer.sum(blockRow, below);
        for (std::size_t block = 0; block + 1 < summer.blocks(); ++block) {
            total += windowScore(above[block], above[block + 1], below[block], below[block + 1], constants);
        }
        std::swap(above, below);
    }
    const auto windows = static_cast<double>(summer.blocks() - 1) * static_cast<double>(blockRows - 1);
    return total / windows;
}

}  // namespace

std::optional<double> windowedSsim(const VideoPlane& reference, const VideoPlane& encoded, std::int32_t bitDepth,
                                   const PlaneArea& area) {
    if (area.width < 2 * kBlockSide || area.height < 2 * kBlockSide) {
        return std::nullopt;
    }
    const SsimConstants constants = constantsFor(bitDepth);
    if (reference.bytesPerSample == 1) {
        // Four rows of 8-bit squares stay far below 2^31.
        return meanWindowScore<std::uint8_t, std::int32_t>(reference, encoded, constants, area);
    }
    return meanWindowScore<std::uint16_t, std::int64_t>(reference, encoded, constants, area);
}

}  // namespace vexilo::media
