#pragma once

#include "validation/HolderIndex.h"
#include "vexilo/analysis/StreamAnalysis.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vexilo::analysis::validation {

// The fifteen collections in member order, and the document itself.
enum class CollectionTag : std::uint8_t {
    NalUnits,
    ParameterSets,
    SeiMessages,
    Slices,
    ReferencePictures,
    Pictures,
    Ctus,
    Cus,
    Pus,
    Tus,
    MotionVectors,
    Errors,
    ShortTermReferencePictures,
    LongTermReferencePictures,
    DpbSnapshotEntries,
    Document,
};
inline constexpr std::size_t kCollectionTagCount = 16;

// Calls visit(tag, records) for the fifteen collections in member order.
template <typename Visitor>
void forEachTaggedCollection(const StreamAnalysis& document, Visitor visit)
{
    visit(CollectionTag::NalUnits, document.nalUnits);
    visit(CollectionTag::ParameterSets, document.parameterSets);
    visit(CollectionTag::SeiMessages, document.seiMessages);
    visit(CollectionTag::Slices, document.slices);
    visit(CollectionTag::ReferencePictures, document.referencePictures);
    visit(CollectionTag::Pictures, document.pictures);
    visit(CollectionTag::Ctus, document.ctus);
    visit(CollectionTag::Cus, document.cus);
    visit(CollectionTag::Pus, document.pus);
    visit(CollectionTag::Tus, document.tus);
    visit(CollectionTag::MotionVectors, document.motionVectors);
    visit(CollectionTag::Errors, document.errors);
    visit(CollectionTag::ShortTermReferencePictures, document.shortTermReferencePictures);
    visit(CollectionTag::LongTermReferencePictures, document.longTermReferencePictures);
    visit(CollectionTag::DpbSnapshotEntries, document.dpbSnapshotEntries);
}

// Every identity of the document: the document identity set, and for each collection the
// position of the first record that holds an id (the typed sets and the lookup tables of the
// block rules). One hash insertion per record keeps a million-record document fast; ids
// shared across collections, which only broken documents have, go to a side table.
class DocumentIdentities {
public:
    // An id that is zero, or that an earlier record already holds.
    struct Repeat {
        CollectionTag collection;
        std::size_t position;
        StableId id;
    };

    explicit DocumentIdentities(const StreamAnalysis& document) : document_(document) { }

    // Registers the document's id and then every record's, collection by collection in member
    // order, each id keeping its first holder. Returns the ids that are zero or held before, in
    // that order. A large document is registered in parts side by side, each part holding the
    // ids whose hash falls to it.
    std::vector<Repeat> addDocument();

    // The document identity set: every non-zero id added.
    [[nodiscard]] bool contains(const StableId& id) const
    {
        std::uint64_t holder = 0;
        return !parts_.empty() && partFor(id).firstHolders.find(id, holder);
    }

    // Position of the first record of the collection that holds the id (zero ids included).
    [[nodiscard]] std::optional<std::size_t> firstPosition(const StableId& id, CollectionTag collection) const;

    // True once some id occurs twice within the collection.
    [[nodiscard]] bool hasRepeatedIds(CollectionTag collection) const { return repeated_[index(collection)]; }

private:
    struct Holder {
        StableId id;
        CollectionTag collection;
        friend bool operator==(const Holder&, const Holder&) = default;
    };
    struct HolderHash {
        std::size_t operator()(const Holder& holder) const noexcept
        {
            return StableIdHash{}(holder.id) ^ (static_cast<std::size_t>(holder.collection) * 0x9e3779b9U);
        }
    };

    static constexpr unsigned kTagBits = 4;
    static constexpr std::size_t kTagMask = (std::size_t{1} << kTagBits) - 1;

    static std::size_t index(CollectionTag collection) { return static_cast<std::size_t>(collection); }

    // The id of a packed (collection, position) holder, read from the document.
    struct HolderId {
        const StreamAnalysis* document;

        template <typename Record>
        static StableId idAt(const std::vector<Record>& records, std::size_t position)
        {
            return records[position].id;
        }

        StableId operator()(std::uint64_t packed) const
        {
            const auto position = static_cast<std::size_t>(packed >> kTagBits);
            const StreamAnalysis& d = *document;
            switch (static_cast<CollectionTag>(packed & kTagMask)) {
            case CollectionTag::NalUnits:
                return idAt(d.nalUnits, position);
            case CollectionTag::ParameterSets:
                return idAt(d.parameterSets, position);
            case CollectionTag::SeiMessages:
                return idAt(d.seiMessages, position);
            case CollectionTag::Slices:
                return idAt(d.slices, position);
            case CollectionTag::ReferencePictures:
                return idAt(d.referencePictures, position);
            case CollectionTag::Pictures:
                return idAt(d.pictures, position);
            case CollectionTag::Ctus:
                return idAt(d.ctus, position);
            case CollectionTag::Cus:
                return idAt(d.cus, position);
            case CollectionTag::Pus:
                return idAt(d.pus, position);
            case CollectionTag::Tus:
                return idAt(d.tus, position);
            case CollectionTag::MotionVectors:
                return idAt(d.motionVectors, position);
            case CollectionTag::Errors:
                return idAt(d.errors, position);
            case CollectionTag::ShortTermReferencePictures:
                return idAt(d.shortTermReferencePictures, position);
            case CollectionTag::LongTermReferencePictures:
                return idAt(d.longTermReferencePictures, position);
            case CollectionTag::DpbSnapshotEntries:
                return idAt(d.dpbSnapshotEntries, position);
            case CollectionTag::Document:
                return d.id;
            }
            return StableId{};
        }
    };
    using Index = HolderIndex<HolderId>;

    // The non-zero ids whose hash falls to one part, and what registering them found.
    struct Part {
        explicit Part(const StreamAnalysis& document) : firstHolders(HolderId{&document}) { }
        Index firstHolders; // id -> packed (collection, position)
        std::unordered_map<Holder, std::size_t, HolderHash> otherHolders; // first holder in a later collection
        std::array<bool, kCollectionTagCount> repeated{};
        std::vector<Repeat> repeats;
    };

    static std::size_t pack(CollectionTag collection, std::size_t position)
    {
        return position << kTagBits | index(collection);
    }
    static bool heldBy(std::size_t packed, CollectionTag collection)
    {
        return (packed & kTagMask) == index(collection);
    }

    // Parts are told apart by hash bits that the index itself leaves unused.
    [[nodiscard]] std::size_t partOf(const StableId& id) const noexcept
    {
        return static_cast<std::size_t>(Index::hash(id) >> 32) & (parts_.size() - 1);
    }
    [[nodiscard]] const Part& partFor(const StableId& id) const noexcept { return parts_[partOf(id)]; }

    // Calls visit(collection, position, id) for every id in registration order.
    template <typename Visitor>
    void forEachId(Visitor visit) const;
    void registerPart(std::size_t partIndex, std::size_t idCount);
    void registerZeroIds();

    const StreamAnalysis& document_;
    std::vector<Part> parts_;
    std::array<std::optional<std::size_t>, kCollectionTagCount> firstZeroHolders_{};
    std::array<bool, kCollectionTagCount> repeated_{};
    std::vector<Repeat> zeroIds_;
};

// One collection's view of the document identities, as its typed identity set and
// "first holder" lookup table. Zero ids have positions too (the lookup tables are
// keyed by any id) but are never members of the typed set.
template <typename Record>
class TypedIdentities {
public:
    TypedIdentities(const DocumentIdentities& identities, CollectionTag collection, const std::vector<Record>& records)
        : identities_(identities), collection_(collection), records_(records)
    {
    }

    [[nodiscard]] bool containsMember(const StableId& id) const { return !id.isNull() && firstPosition(id); }

    [[nodiscard]] std::optional<std::size_t> firstPosition(const StableId& id) const
    {
        if (const std::optional<std::size_t> nearby = nearbyPosition(id)) {
            return nearby;
        }
        const std::optional<std::size_t> position = identities_.firstPosition(id, collection_);
        if (position) {
            hint_ = *position;
        }
        return position;
    }

    [[nodiscard]] const Record* firstHolder(const StableId& id) const
    {
        const std::optional<std::size_t> position = firstPosition(id);
        return position ? &records_[*position] : nullptr;
    }

    [[nodiscard]] const Record& at(std::size_t position) const { return records_[position]; }

private:
    // Builders store children in the order of their parents, so consecutive lookups
    // mostly land on the last parent found or a few records after it (past the
    // split nodes of a quadtree). References into a slice's short list of reference
    // pictures move back and forth within it, so the records just before the last one
    // found are searched too. That shortcut is exact only while every id of the
    // collection is unique: then any holder is the first one.
    static constexpr std::size_t kNearbyWindow = 8;

    [[nodiscard]] std::optional<std::size_t> nearbyPosition(const StableId& id) const
    {
        if (identities_.hasRepeatedIds(collection_)) {
            return std::nullopt;
        }
        const std::size_t end = std::min(hint_ + kNearbyWindow, records_.size());
        if (const std::optional<std::size_t> ahead = positionWithin(id, hint_, end)) {
            return ahead;
        }
        return positionWithin(id, hint_ - std::min(hint_, kNearbyWindow), hint_);
    }

    [[nodiscard]] std::optional<std::size_t> positionWithin(const StableId& id, std::size_t begin,
                                                            std::size_t end) const
    {
        for (std::size_t candidate = begin; candidate < end; ++candidate) {
            if (records_[candidate].id == id) {
                hint_ = candidate;
                return candidate;
            }
        }
        return std::nullopt;
    }

    const DocumentIdentities& identities_;
    CollectionTag collection_;
    const std::vector<Record>& records_;
    mutable std::size_t hint_ = 0;
};

}  // namespace vexilo::analysis::validation
