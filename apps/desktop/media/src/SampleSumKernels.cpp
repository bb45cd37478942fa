#include "SampleSumKernels.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vexilo::media {
namespace {

// Samples below 2^11 (every 8-bit and 10-bit sample) are summed as 16-bit values with 32-bit
// partial sums, a shape the compiler turns into packed multiply-adds. A chunk is short
// enough that no partial sum can pass 2^31: 8-bit squares stay below 2^16, 11-bit ones
// below 2^22.
constexpr std::size_t kNarrowChunkSamples = 16384;
constexpr std::size_t kWideChunkSamples = 512;
constexpr std::uint32_t kSmallSampleLimit = 1U << 11;

template <typename Accumulator>
struct PartialSums {
    Accumulator squaredDifference = 0;
    Accumulator reference = 0;
    Accumulator encoded = 0;
    Accumulator referenceSquared = 0;
    Accumulator encodedSquared = 0;
    Accumulator cross = 0;

    void addTo(SampleSums& sums) const {
        sums.squaredDifference += static_cast<double>(squaredDifference);
        sums.reference += static_cast<double>(reference);
        sums.encoded += static_cast<double>(encoded);
        sums.referenceSquared += static_cast<double>(referenceSquared);
        sums.encodedSquared += static_cast<double>(encodedSquared);
        sums.cross += static_cast<double>(cross);
    }
};

std::uint16_t loadWideSample(const std::uint8_t* bytes, std::size_t index) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint16_t value = 0;
        std::memcpy(&value, bytes + 2 * index, sizeof(value));
        return value;
    } else {
        return static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
    }
}

template <typename LoadSample>
void accumulateSmallSamples(std::size_t begin, std::size_t end, LoadSample load, SampleSums& sums) {
    PartialSums<std::int32_t> partial;
    for (std::size_t i = begin; i < end; ++i) {
        const auto x = static_cast<std::int16_t>(load(i).first);
        const auto y = static_cast<std::int16_t>(load(i).second);
        const auto difference = static_cast<std::int16_t>(x - y);
        partial.squaredDifference += static_cast<std::int32_t>(difference) * difference;
        partial.reference += x;
        partial.encoded += y;
        partial.referenceSquared += static_cast<std::int32_t>(x) * x;
        partial.encodedSquared += static_cast<std::int32_t>(y) * y;
        partial.cross += static_cast<std::int32_t>(x) * y;
    }
    partial.addTo(sums);
}

// Any 16-bit values: 64-bit partial sums, for samples a declared depth does not bound.
template <typename LoadSample>
void accumulateLargeSamples(std::size_t begin, std::size_t end, LoadSample load, SampleSums& sums) {
    PartialSums<std::uint64_t> partial;
    for (std::size_t i = begin; i < end; ++i) {
        const std::uint32_t x = load(i).first;
        const std::uint32_t y = load(i).second;
        const std::uint32_t difference = x > y ? x - y : y - x;
        partial.squaredDifference += std::uint64_t{difference * difference};
        partial.reference += x;
        partial.encoded += y;
        partial.referenceSquared += std::uint64_t{x * x};
        partial.encodedSquared += std::uint64_t{y * y};
        partial.cross += std::uint64_t{x * y};
    }
    partial.addTo(sums);
}

void accumulateNarrow(const std::uint8_t* reference, const std::uint8_t* encoded, std::size_t count,
                      SampleSums& sums) {
    const auto load = [reference, encoded](std::size_t i) {
        return std::pair<std::uint16_t, std::uint16_t>{reference[i], encoded[i]};
    };
    for (std::size_t begin = 0; begin < count; begin += kNarrowChunkSamples) {
        accumulateSmallSamples(begin, std::min(count, begin + kNarrowChunkSamples), load, sums);
    }
}

void accumulateWide(const std::uint8_t* reference, const std::uint8_t* encoded, std::size_t count,
                    SampleSums& sums) {
    const auto load = [reference, encoded](std::size_t i) {
        return std::pair<std::uint16_t, std::uint16_t>{loadWideSample(reference, i), loadWideSample(encoded, i)};
    };
    for (std::size_t begin = 0; begin < count; begin += kWideChunkSamples) {
        const std::size_t end = std::min(count, begin + kWideChunkSamples);
        std::uint16_t allBits = 0;
        for (std::size_t i = begin; i < end; ++i) {
            allBits = static_cast<std::uint16_t>(allBits | loadWideSample(reference, i) | loadWideSample(encoded, i));
        }
        if (allBits < kSmallSampleLimit) {
            accumulateSmallSamples(begin, end, load, sums);
        } else {
            accumulateLargeSamples(begin, end, load, sums);
        }
    }
}

}  // namespace

void accumulateSampleRun(const std::uint8_t* reference, const std::uint8_t* encoded, std::size_t count,
                         std::int32_t bytesPerSample, SampleSums& sums) {
    if (bytesPerSample == 1) {
        accumulateNarrow(reference, encoded, count, sums);
    } else {
        accumulateWide(reference, encoded, count, sums);
    }
}

}  // namespace vexilo::media
