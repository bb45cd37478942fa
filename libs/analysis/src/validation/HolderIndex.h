#pragma once

#include "vexilo/analysis/HugePages.h"
#include "vexilo/analysis/StableId.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexilo::analysis::validation {

// An open-addressing map from a StableId to a holder: a number the caller can turn back
// into the record that holds the id, such as its position. A slot is one word, the holder
// and a few bits of the id's hash, and the id itself is read from the record when those
// bits match; later insertions under a present id keep the earlier holder. A million-id
// document then needs 16 MiB of slots instead of 48 for a copy of every id, and first
// touching that memory is most of what an index costs.
//
// `IdOf` gives the id of a holder: StableId (std::uint64_t holder) const.
template <typename IdOf>
class HolderIndex {
public:
    // Packed holders must stay below this.
    static constexpr std::uint64_t kHolderLimit = std::uint64_t{1} << 40;

    struct Insertion {
        std::uint64_t stored;  // the holder now under the id: the new one or the earlier one
        bool inserted;
    };

    explicit HolderIndex(IdOf idOf) : idOf_(idOf) {}

    // Sizes the table for `count` ids at two thirds full, any size rather than the next
    // power of two: a three-million-id document then needs 40 MiB instead of 64, which
    // also stays below the size that the allocator would map afresh (and the kernel zero)
    // for every validation. A table already in use grows at least twofold, as insertion
    // grows it: callers that reserve a little more before each batch would otherwise
    // rehash everything every time.
    void reserve(std::size_t count)
    {
        const std::size_t wanted = std::max(kMinimumCapacity, count + count / 2);
        if (wanted > slots_.size()) {
            rehash(slots_.empty() ? wanted : std::max(wanted, slots_.size() * 2));
        }
    }

    [[nodiscard]] std::size_t capacity() const noexcept { return slots_.size(); }

    // Adds the holder under the id unless the id already has one.
    Insertion insert(const StableId& id, std::uint64_t holder)
    {
        if (!withinLoad(size_ + 1, slots_.size())) {
            rehash(slots_.empty() ? kMinimumCapacity : slots_.size() * 2);
        }
        const std::uint64_t hashed = hash(id);
        std::uint64_t& slot = slots_[probe(id, hashed)];
        if (slot != kEmpty) {
            return {holderOf(slot), false};
        }
        slot = makeSlot(hashed, holder);
        ++size_;
        return {holder, true};
    }

    // Starts loading the slot where the id's probe begins. A large index lives in main
    // memory and ids land on random slots, so a caller that knows its next ids can overlap
    // those loads instead of waiting for each in turn.
    void prefetch(const StableId& id) const noexcept
    {
        if (!slots_.empty()) {
            prefetchForRead(&slots_[homeOf(hash(id))]);
        }
    }

    // The holder under the id, if any.
    [[nodiscard]] bool find(const StableId& id, std::uint64_t& holder) const
    {
        if (slots_.empty()) {
            return false;
        }
        const std::uint64_t slot = slots_[probe(id, hash(id))];
        if (slot == kEmpty) {
            return false;
        }
        holder = holderOf(slot);
        return true;
    }

    // The hash the index places an id by. Its bits 32 to 39 take no part in that (the home slot
    // comes from the low half, the tag from the top bits), so callers may split ids by them.
    static std::uint64_t hash(const StableId& id) noexcept
    {
        // Test documents and counters give ids that differ in a few low bits only; mix
        // both words so that linear probing still spreads them.
        std::uint64_t h = id.high * 0x9e3779b97f4a7c15ULL ^ id.low;
        h ^= h >> 32;
        h *= 0xd6e8feb86659fd93ULL;
        h ^= h >> 32;
        return h;
    }

private:
    static constexpr std::uint64_t kEmpty = 0;
    static constexpr unsigned kHolderBits = 40;
    static constexpr std::uint64_t kHolderMask = kHolderLimit - 1;
    static constexpr std::size_t kMinimumCapacity = 16;
    static constexpr std::uint64_t kLowHalfMask = 0xffffffffULL;

    static constexpr bool withinLoad(std::size_t keys, std::size_t capacity) noexcept
    {
        return keys * 4 <= capacity * 3;
    }

    // GCC 12 removes a __builtin_prefetch of an address computed from this hash as dead
    // code; an empty asm statement that takes the address keeps the prefetch.
    static void prefetchForRead(const std::uint64_t* slot) noexcept
    {
        asm volatile("" : : "r"(slot));
        __builtin_prefetch(slot);
    }

    // The top bits of the hash tell most other ids apart without reading their record;
    // the holder is stored plus one so that an empty slot is zero.
    static std::uint64_t makeSlot(std::uint64_t hashed, std::uint64_t holder) noexcept
    {
        return (hashed & ~kHolderMask) | (holder + 1);
    }
    static std::uint64_t holderOf(std::uint64_t slot) noexcept { return (slot & kHolderMask) - 1; }

    // The slot where the id's probe starts: the low half of the hash scaled to the table,
    // which needs no power-of-two size (tables stay far below the 2^32 slots, 32 GiB, that
    // this reaches). The tag is taken from the top bits, so the two stay independent.
    [[nodiscard]] std::size_t homeOf(std::uint64_t hashed) const noexcept
    {
        return static_cast<std::size_t>(((hashed & kLowHalfMask) * slots_.size()) >> 32);
    }

    [[nodiscard]] std::size_t nextOf(std::size_t index) const noexcept
    {
        return index + 1 == slots_.size() ? 0 : index + 1;
    }

    // The slot holding the id, or the empty slot where it would go.
    [[nodiscard]] std::size_t probe(const StableId& id, std::uint64_t hashed) const
    {
        const std::uint64_t tag = hashed & ~kHolderMask;
        for (std::size_t index = homeOf(hashed);; index = nextOf(index)) {
            const std::uint64_t slot = slots_[index];
            if (slot == kEmpty || ((slot & ~kHolderMask) == tag && idOf_(holderOf(slot)) == id)) {
                return index;
            }
        }
    }

    void rehash(std::size_t capacity)
    {
        std::vector<std::uint64_t> old;
        reserveOnHugePages(old, capacity);
        old.resize(capacity, kEmpty);
        old.swap(slots_);
        for (const std::uint64_t slot : old) {
            if (slot != kEmpty) {
                // Ids in the index are distinct, so the first empty slot is the place.
                std::size_t index = homeOf(hash(idOf_(holderOf(slot))));
                while (slots_[index] != kEmpty) {
                    index = nextOf(index);
                }
                slots_[index] = slot;
            }
        }
    }

    IdOf idOf_;
    std::vector<std::uint64_t> slots_;
    std::size_t size_ = 0;
};

}  // namespace vexilo::analysis::validation
