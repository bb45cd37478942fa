#include "builder/PlaceOrderedSort.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace vexilo::analyzer {
namespace {

// Below this a comparison sort is as quick and needs no second buffer.
constexpr std::size_t kRadixFrom = 4096;
constexpr unsigned kDigitBits = 11;
constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
constexpr unsigned kWordBits = 64;

}  // namespace

void sortAbovePlaces(std::vector<std::uint64_t>& words, unsigned placeBits)
{
    if (words.size() < kRadixFrom) {
        std::sort(words.begin(), words.end());
        return;
    }
    std::vector<std::uint64_t> sorted(words.size());
    std::vector<std::size_t> next(kDigits);
    for (unsigned shift = placeBits; shift < kWordBits; shift += kDigitBits) {
        std::fill(next.begin(), next.end(), 0);
        for (const std::uint64_t word : words) {
            ++next[(word >> shift) & (kDigits - 1)];
        }
        std::size_t start = 0;
        for (std::size_t& count : next) {
            start += std::exchange(count, start);
        }
        for (const std::uint64_t word : words) {
            sorted[next[(word >> shift) & (kDigits - 1)]++] = word;
        }
        words.swap(sorted);
    }
}

}  // namespace vexilo::analyzer
