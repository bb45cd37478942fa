#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"

#include <unordered_map>
#include <vector>

namespace vexilo {

// A document's NAL units by id, built once per document: rows that name the NAL unit of a
// parameter set, SEI message or slice would otherwise walk all of them per row. The first unit
// of an id wins, as a walk from the front would find it. Points into the indexed collection,
// which must outlive the index.
class NalUnitIndex {
public:
    void rebuild(const std::vector<analysis::NalUnitInfo>& nalUnits)
    {
        byId_.clear();
        byId_.reserve(nalUnits.size());
        for (const analysis::NalUnitInfo& nalUnit : nalUnits) {
            byId_.emplace(nalUnit.id, &nalUnit);
        }
    }

    void clear() { byId_.clear(); }

    // The unit with this id, or null.
    [[nodiscard]] const analysis::NalUnitInfo* find(const analysis::StableId& id) const
    {
        const auto found = byId_.find(id);
        return found == byId_.end() ? nullptr : found->second;
    }

private:
    std::unordered_map<analysis::StableId, const analysis::NalUnitInfo*, analysis::StableIdHash> byId_;
};

}  // namespace vexilo
