#pragma once

#include "observer/ObserverEventRecord.h"

#include <cstdint>
#include <vector>

namespace vexilo::analyzer {

// Sorts `order` (indices into `records`) into the builder's order: phase, NAL position,
// picture, slice order, CTU address, kind priority, secondary key, identity, kind, the
// two content hashes and the ordinal, each compared as an unsigned number. Only the
// indices move; the records stay where they are.
void sortObserverEventOrder(const ObserverEventRecord* records, std::vector<std::uint64_t>& order);

}  // namespace vexilo::analyzer
