#pragma once

#include <cstdint>
#include <vector>

namespace vexilo::analyzer {

// Sorts words that carry a record's place in their low `placeBits` bits, in ascending order
// of place, by the bits above those, keeping words of equal high bits in their order: the
// same order as a sort of the whole words. A radix sort of millions of random words takes a
// few passes where a comparison sort mispredicts a branch on nearly every comparison.
void sortAbovePlaces(std::vector<std::uint64_t>& words, unsigned placeBits);

}  // namespace vexilo::analyzer
