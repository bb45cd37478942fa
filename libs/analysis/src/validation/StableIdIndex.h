#pragma once

#include "vexilo/analysis/StableId.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace vexilo::analysis::validation {

// An open-addressing map from a StableId (both words) to a number, such as the
// position of the first record that carried it. Later insertions under a present
// key keep the earlier value, which is what every identity table of the validator
// wants. Validating a million block records means millions of lookups, so this
// stays flat and allocation-free after reserve().
class StableIdIndex {
public:
    struct Insertion {
        std::size_t stored;  // the value now under the key: the new one or the earlier one
        bool inserted;
    };

    // Makes room for `count` keys without rehashing.
    void reserve(std::size_t count)
    {
        std::size_t wanted = kMinimumCapacity;
        while (!withinLoad(count, wanted)) {
            wanted *= 2;
        }
        if (wanted > slots_.size()) {
            rehash(wanted);
        }
    }

    // Adds the key with its value unless the key is already present.
    Insertion insert(const StableId& key, std::size_t value)
    {
        if (!withinLoad(size_ + 1, slots_.size())) {
            rehash(slots_.empty() ? kMinimumCapacity : slots_.size() * 2);
        }
        Slot& slot = slots_[probe(key)];
        if (slot.value != kEmpty) {
            return {slot.value, false};
        }
        slot.key = key;
        slot.value = value;
        ++size_;
        return {value, true};
    }

    // The value stored under the key, or nullptr.
    [[nodiscard]] const std::size_t* find(const StableId& key) const
    {
        if (slots_.empty()) {
            return nullptr;
        }
        const Slot& slot = slots_[probe(key)];
        return slot.value == kEmpty ? nullptr : &slot.value;
    }

    [[nodiscard]] bool contains(const StableId& key) const { return find(key) != nullptr; }

private:
    static constexpr std::size_t kEmpty = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t kMinimumCapacity = 16;

    // At most three keys in four slots: a million-id document then needs 48 MiB of slots,
    // not twice that, and first touching that memory is most of what an index costs.
    static constexpr bool withinLoad(std::size_t keys, std::size_t capacity) noexcept
    {
        return keys * 4 <= capacity * 3;
    }

    struct Slot {
        StableId key;
        std::size_t value = kEmpty;
    };

    static std::uint64_t hash(const StableId& key) noexcept
    {
        // Test documents and counters give ids that differ in a few low bits only;
        // mix both words so that linear probing still spreads them.
        std::uint64_t h = key.high * 0x9e3779b97f4a7c15ULL ^ key.low;
        h ^= h >> 32;
        h *= 0xd6e8feb86659fd93ULL;
        h ^= h >> 32;
        return h;
    }

    // The slot holding the key, or the empty slot where it would go.
    [[nodiscard]] std::size_t probe(const StableId& key) const noexcept
    {
        const std::size_t mask = slots_.size() - 1;
        std::size_t index = static_cast<std::size_t>(hash(key)) & mask;
        while (slots_[index].value != kEmpty && slots_[index].key != key) {
            index = (index + 1) & mask;
        }
        return index;
    }

    void rehash(std::size_t capacity)
    {
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.value != kEmpty) {
                slots_[probe(slot.key)] = slot;
            }
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
};

}  // namespace vexilo::analysis::validation
