#pragma once

#include <flatbuffers/flatbuffers.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vexilo::analysis::slots {

// A builder whose tables find an equal vtable written before through a hash table instead of
// FlatBuffers' own search, which compares the new vtable with every one written so far: a
// picture document holds some sixty vtable shapes, and tens of thousands of block tables each
// paid for comparing with up to all of them. The bytes are the same: FlatBuffers keeps only
// vtables that differ from every earlier one, so the equal vtable, where there is one, is the
// only one either search can find. Tables ended through the base class (EndTable) still search
// the usual way and find the vtables written here, and theirs are indexed before the next
// lookup here.
class IndexedVtableBuilder : public flatbuffers::FlatBufferBuilder {
public:
    using flatbuffers::FlatBufferBuilder::FlatBufferBuilder;

    // Clear() as well would leave the index pointing at vtables no longer there.
    void Clear() = delete;

    // EndTable, with the equal earlier vtable looked up in the index.
    flatbuffers::uoffset_t EndTableIndexed(flatbuffers::uoffset_t start)
    {
        // The base class writes the table's vtable whole and remembers it as a new one; when an
        // equal one was written before, the new one is taken back here, exactly as the base
        // class's own search would have done.
        const bool dedup = dedup_vtables_;
        dedup_vtables_ = false;
        const flatbuffers::uoffset_t table = EndTable(start);
        dedup_vtables_ = dedup;
        if (!dedup) {
            return table;
        }
        const flatbuffers::uoffset_t written = GetSize();
        indexRememberedVtablesButNewest();
        // A collection's tables come one after another, and most share the shape of the one before.
        const flatbuffers::uoffset_t equal =
            lastUsed_ != kNone && sameVtable(lastUsed_, written) ? lastUsed_ : findEqual(written);
        if (equal == kNone) {
            insert(written);
            ++indexed_;
            lastUsed_ = written;
            return table;
        }
        lastUsed_ = equal;
        buf_.pop(written - table);
        buf_.scratch_pop(sizeof(flatbuffers::uoffset_t));
        flatbuffers::WriteScalar(buf_.data_at(table), static_cast<flatbuffers::soffset_t>(equal) -
                                                          static_cast<flatbuffers::soffset_t>(table));
        return table;
    }

private:
    static constexpr flatbuffers::uoffset_t kNone = 0;

    [[nodiscard]] const std::uint8_t* vtableAt(flatbuffers::uoffset_t offset) const { return buf_.data_at(offset); }

    [[nodiscard]] static std::size_t vtableBytes(const std::uint8_t* vtable)
    {
        return flatbuffers::ReadScalar<flatbuffers::voffset_t>(vtable);
    }

    // Eight bytes at a time: a vtable is a few dozen bytes, and hashing them one by one would
    // cost more than the search it replaces.
    [[nodiscard]] std::uint64_t hashOf(flatbuffers::uoffset_t offset) const
    {
        const std::uint8_t* vtable = vtableAt(offset);
        const std::size_t bytes = vtableBytes(vtable);
        std::uint64_t hash = bytes;
        std::size_t at = 0;
        for (; at + sizeof(std::uint64_t) <= bytes; at += sizeof(std::uint64_t)) {
            hash = mix(hash, loadWord(vtable + at, sizeof(std::uint64_t)));
        }
        if (at < bytes) {
            hash = mix(hash, loadWord(vtable + at, bytes - at));
        }
        return hash ^ (hash >> 29);
    }

    static std::uint64_t loadWord(const std::uint8_t* bytes, std::size_t count)
    {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes, count);
        return word;
    }

    static std::uint64_t mix(std::uint64_t hash, std::uint64_t word)
    {
        return (hash ^ word) * 0x9e3779b97f4a7c15ULL;
    }

    [[nodiscard]] bool sameVtable(flatbuffers::uoffset_t left, flatbuffers::uoffset_t right) const
    {
        const std::uint8_t* a = vtableAt(left);
        const std::uint8_t* b = vtableAt(right);
        return vtableBytes(a) == vtableBytes(b) && std::memcmp(a, b, vtableBytes(a)) == 0;
    }

    // Vtables the base class remembered (its scratch holds their offsets, oldest first, and
    // nothing else between tables) that the index does not hold yet, but the newest.
    void indexRememberedVtablesButNewest()
    {
        const auto* remembered = reinterpret_cast<const flatbuffers::uoffset_t*>(buf_.scratch_data());
        const std::size_t newest =
            static_cast<std::size_t>(buf_.scratch_end() - buf_.scratch_data()) / sizeof(flatbuffers::uoffset_t) - 1;
        for (; indexed_ < newest; ++indexed_) {
            insert(remembered[indexed_]);
        }
    }

    [[nodiscard]] flatbuffers::uoffset_t findEqual(flatbuffers::uoffset_t vtable) const
    {
        if (slots_.empty()) {
            return kNone;
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = hashOf(vtable) & mask;; slot = (slot + 1) & mask) {
            if (slots_[slot] == kNone) {
                return kNone;
            }
            if (sameVtable(slots_[slot], vtable)) {
                return slots_[slot];
            }
        }
    }

    void insert(flatbuffers::uoffset_t vtable)
    {
        if ((count_ + 1) * 2 > slots_.size()) {
            grow();
        }
        place(vtable);
        ++count_;
    }

    void place(flatbuffers::uoffset_t vtable)
    {
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = hashOf(vtable) & mask;
        while (slots_[slot] != kNone) {
            slot = (slot + 1) & mask;
        }
        slots_[slot] = vtable;
    }

    void grow()
    {
        std::vector<flatbuffers::uoffset_t> old(slots_.empty() ? 64 : slots_.size() * 2, kNone);
        old.swap(slots_);
        for (const flatbuffers::uoffset_t vtable : old) {
            if (vtable != kNone) {
                place(vtable);
            }
        }
    }

    // Open addressing over vtable offsets (never 0: a vtable follows at least its table).
    std::vector<flatbuffers::uoffset_t> slots_;
    std::size_t count_ = 0;
    // The vtable the last table indexed here used.
    flatbuffers::uoffset_t lastUsed_ = kNone;
    // Remembered vtables of the base class already in the index.
    std::size_t indexed_ = 0;
};

}  // namespace vexilo::analysis::slots
