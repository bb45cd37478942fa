#pragma once

#include "observer/ObserverEventRecord.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace vexilo::analyzer {

// Sorts `order` (indices of records that `read` gives by index) into the builder's order:
// phase, NAL position, picture, slice order, CTU address, kind priority, secondary key,
// identity, kind, the two content hashes and the ordinal, each compared as an unsigned
// number. Only the indices move; the records stay where they are.
// The reader fills the record it is given (which it may find holding an earlier one).
// Only the records of `placingEvents` (indices among `order`) may be NAL units or slice
// segment headers, whose places the other events take theirs from; the rest are read once.
// `runLengths` are the lengths of the runs that `order` begins with, each nearly in order in
// itself (one picture's blocks, say); the result does not depend on them.
using ObserverEventReader = std::function<void(std::uint64_t, ObserverEventRecord&)>;
void sortObserverEventOrder(std::vector<std::uint64_t>& order, const ObserverEventReader& read,
                            std::span<const std::uint64_t> placingEvents,
                            std::span<const std::uint64_t> runLengths = {});

}  // namespace vexilo::analyzer
