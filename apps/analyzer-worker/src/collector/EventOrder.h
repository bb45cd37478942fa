#pragma once

#include "observer/ObserverEventRecord.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace vexilo::analyzer {

// Sorts `order` (indices of records that `read` gives by index) into the builder's order:
// phase, NAL position, picture, slice order, CTU address, kind priority, secondary key,
// identity, kind, the two content hashes and the ordinal, each compared as an unsigned
// number. Only the indices move; the records stay where they are.
// The reader fills the record it is given (which it may find holding an earlier one).
using ObserverEventReader = std::function<void(std::uint64_t, ObserverEventRecord&)>;
void sortObserverEventOrder(std::vector<std::uint64_t>& order, const ObserverEventReader& read);

}  // namespace vexilo::analyzer
