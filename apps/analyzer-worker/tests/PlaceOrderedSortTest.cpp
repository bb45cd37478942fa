#include "builder/PlaceOrderedSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace vexilo::analyzer {
namespace {

// Words as the duplicate search makes them: random high bits, drawn from few values when
// `distinctHighValues` is small so that many words share them, above their places in order.
std::vector<std::uint64_t> wordsAbovePlaces(std::size_t count, std::uint64_t distinctHighValues,
                                            std::mt19937_64& random)
{
    const auto placeBits = static_cast<unsigned>(std::bit_width(count));
    const std::uint64_t placeMask = placeBits == 0 ? 0 : ~std::uint64_t{0} >> (64 - placeBits);
    std::vector<std::uint64_t> words;
    for (std::size_t place = 0; place < count; ++place) {
        const std::uint64_t high =
            distinctHighValues == 0 ? random() : random() % distinctHighValues * 0x9e3779b97f4a7c15ULL;
        words.push_back((high & ~placeMask) | place);
    }
    return words;
}

// Both sides of the switch to the radix sort, with high bits all different, often the same,
// and a single value for all.
TEST(PlaceOrderedSort, GivesTheOrderOfASortOfTheWholeWords)
{
    std::mt19937_64 random(7);
    for (const std::size_t count : {0U, 1U, 2U, 4095U, 4096U, 70001U}) {
        for (const std::uint64_t distinct : {0U, 5U, 1U}) {
            std::vector<std::uint64_t> words = wordsAbovePlaces(count, distinct, random);
            std::vector<std::uint64_t> expected = words;
            std::sort(expected.begin(), expected.end());
            sortAbovePlaces(words, static_cast<unsigned>(std::bit_width(count)));
            EXPECT_EQ(words, expected) << count << " words, " << distinct << " distinct high values";
        }
    }
}

}  // namespace
}  // namespace vexilo::analyzer
