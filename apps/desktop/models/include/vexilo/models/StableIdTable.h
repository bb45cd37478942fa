#pragma once

#include "vexilo/analysis/StableId.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

namespace vexilo {

// Identity -> 32-bit index, sized once for a known number of entries. Open addressing in
// one allocation: a dense picture registers hundreds of thousands of blocks, and a node-based
// map spends most of its time allocating them.
class StableIdTable {
public:
    explicit StableIdTable(std::size_t expectedEntries = 0) { reset(expectedEntries); }

    void reset(std::size_t expectedEntries) {
        // At most three quarters full: linear probing stays short and the table small.
        const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(16, expectedEntries + expectedEntries / 3 + 1));
        slots_.assign(capacity, Slot{});
        mask_ = capacity - 1;
        size_ = 0;
    }

    // Keeps the first index given for an identity; false when the identity was already there
    // or is null (null identities are never stored).
    bool insertIfAbsent(const analysis::StableId& id, std::uint32_t index) {
        if (id.isNull()) {
            return false;
        }
        if ((size_ + 1) * 4 > slots_.size() * 3) {
            grow();
        }
        Slot& slot = slots_[positionOf(id)];
        if (slot.used) {
            return false;
        }
        slot = Slot{id, index, true};
        ++size_;
        return true;
    }

    [[nodiscard]] std::optional<std::uint32_t> find(const analysis::StableId& id) const {
        if (id.isNull()) {
            return std::nullopt;
        }
        const Slot& slot = slots_[positionOf(id)];
        return slot.used ? std::optional(slot.index) : std::nullopt;
    }

    [[nodiscard]] std::size_t size() const { return size_; }

    // Starts loading the slot where a probe for `id` begins: callers that know their next keys
    // a few steps ahead overlap the cache misses of a table far larger than the cache.
    void prefetch(const analysis::StableId& id) const {
        __builtin_prefetch(&slots_[analysis::StableIdHash{}(id) & mask_]);
    }

private:
    struct Slot {
        analysis::StableId id{};
        std::uint32_t index = 0;
        bool used = false;
    };

    // The slot that holds `id`, or the empty slot where it would go.
    [[nodiscard]] std::size_t positionOf(const analysis::StableId& id) const {
        std::size_t position = analysis::StableIdHash{}(id) & mask_;
        while (slots_[position].used && slots_[position].id != id) {
            position = (position + 1) & mask_;
        }
        return position;
    }

    void grow() {
        std::vector<Slot> previous = std::move(slots_);
        reset(previous.size());
        for (const Slot& slot : previous) {
            if (slot.used) {
                slots_[positionOf(slot.id)] = slot;
                ++size_;
            }
        }
    }

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

}  // namespace vexilo
