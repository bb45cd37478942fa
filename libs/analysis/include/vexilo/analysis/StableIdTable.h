#pragma once

#include "vexilo/analysis/HugePages.h"
#include "vexilo/analysis/StableId.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vexilo::analysis {

// An open-addressing table keyed by StableId. The worker's builder and the cache writer keep
// one entry per object of a document of up to millions of blocks; node-based hash maps
// cost more in allocation and cache misses than the rest of the work together. The null
// identity marks a free slot and is never stored.
template <typename Value>
class StableIdTable {
public:
    void reserve(std::size_t count)
    {
        const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(16, count * 2));
        if (wanted > slots_.size()) {
            rehash(wanted);
        }
    }

    // Adds the entry when the identity is new; false (and nothing changed) otherwise.
    bool insert(const StableId& id, Value value)
    {
        if (id.isNull()) {
            return false;
        }
        if ((size_ + 1) * 2 > slots_.size()) {
            rehash(std::max<std::size_t>(16, slots_.size() * 2));
        }
        Slot& slot = slotOf(id);
        if (!slot.id.isNull()) {
            return false;
        }
        slot = Slot{id, std::move(value)};
        ++size_;
        return true;
    }

    [[nodiscard]] const Value* find(const StableId& id) const
    {
        if (id.isNull() || slots_.empty()) {
            return nullptr;
        }
        const Slot& slot = const_cast<StableIdTable*>(this)->slotOf(id);
        return slot.id.isNull() ? nullptr : &slot.value;
    }

    // The value of `id`, added as Value{} when the identity is new. The null identity, which
    // no slot may hold, has a value of its own.
    Value& at(const StableId& id)
    {
        if (id.isNull()) {
            return nullIdValue_;
        }
        if ((size_ + 1) * 2 > slots_.size()) {
            rehash(std::max<std::size_t>(16, slots_.size() * 2));
        }
        Slot& slot = slotOf(id);
        if (slot.id.isNull()) {
            slot.id = id;
            ++size_;
        }
        return slot.value;
    }

    [[nodiscard]] bool contains(const StableId& id) const { return find(id) != nullptr; }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }

private:
    struct Slot {
        StableId id;
        // A set's slot is the identity alone.
        [[no_unique_address]] Value value{};
    };

    static std::size_t hashOf(const StableId& id) noexcept
    {
        std::uint64_t x = id.low ^ (id.high * 0x9e3779b97f4a7c15ULL);
        x ^= x >> 31;
        x *= 0xbf58476d1ce4e5b9ULL;
        x ^= x >> 29;
        return static_cast<std::size_t>(x);
    }

    // The slot holding `id`, or the free slot where it would go.
    Slot& slotOf(const StableId& id)
    {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t index = hashOf(id) & mask;; index = (index + 1) & mask) {
            Slot& slot = slots_[index];
            if (slot.id.isNull() || slot.id == id) {
                return slot;
            }
        }
    }

    void rehash(std::size_t capacity)
    {
        std::vector<Slot> old = std::move(slots_);
        slots_ = {};
        // Tables of a million blocks are probed at random: huge pages spare both the
        // first-touch faults and most TLB misses. The advice must come before the fill.
        reserveOnHugePages(slots_, capacity);
        slots_.assign(capacity, Slot{});
        for (Slot& slot : old) {
            if (!slot.id.isNull()) {
                slotOf(slot.id) = std::move(slot);
            }
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    Value nullIdValue_{};
};

struct NoValue {};
using StableIdSet = StableIdTable<NoValue>;

}  // namespace vexilo::analysis
