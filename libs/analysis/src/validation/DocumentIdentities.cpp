#include "validation/DocumentIdentities.h"

#include "WorkBeside.h"

#include <algorithm>
#include <bit>
#include <future>

namespace vexilo::analysis::validation {
namespace {

// Documents of this many ids are registered in parts side by side.
constexpr std::size_t kIdsWorthParts = 262'144;
// A power of two, as a part is picked by masking hash bits.
constexpr std::size_t kParts = 4;
// How many records ahead registration asks for the slot of an id: enough loads in flight
// to hide a trip to main memory, few enough that the slots are still cached when used.
constexpr std::size_t kPrefetchDistance = 16;

// Registration order: the document's id, then the collections in member order.
std::size_t rankOf(CollectionTag collection)
{
    return collection == CollectionTag::Document ? 0 : 1 + static_cast<std::size_t>(collection);
}

}  // namespace

template <typename Visitor>
void DocumentIdentities::forEachId(Visitor visit) const
{
    visit(CollectionTag::Document, 0, document_.id);
    forEachTaggedCollection(document_, [&](CollectionTag collection, const auto& records) {
        for (std::size_t position = 0; position < records.size(); ++position) {
            visit(collection, position, records[position].id);
        }
    });
}

// Every part reads all ids and keeps its own. A long document's identity table is far
// larger than the caches; waiting on each random slot in turn made this the costliest
// part of validation, so the slots of ids a few records ahead are asked for early.
void DocumentIdentities::registerPart(std::size_t partIndex, std::size_t idCount)
{
    Part& part = parts_[partIndex];
    const std::size_t share = idCount / parts_.size();
    part.firstHolders.reserve(share + share / 8 + kPrefetchDistance);
    const auto isMine = [&](const StableId& id) { return !id.isNull() && partOf(id) == partIndex; };
    const auto add = [&](CollectionTag collection, std::size_t position, const StableId& id) {
        const auto insertion = part.firstHolders.insert(id, pack(collection, position));
        if (insertion.inserted) {
            return;
        }
        if (heldBy(static_cast<std::size_t>(insertion.stored), collection) ||
            !part.otherHolders.try_emplace(Holder{id, collection}, position).second) {
            part.repeated[index(collection)] = true;
        }
        part.repeats.push_back(Repeat{collection, position, id});
    };
    if (isMine(document_.id)) {
        add(CollectionTag::Document, 0, document_.id);
    }
    forEachTaggedCollection(document_, [&](CollectionTag collection, const auto& records) {
        for (std::size_t position = 0; position < records.size(); ++position) {
            if (position + kPrefetchDistance < records.size()) {
                if (const StableId& ahead = records[position + kPrefetchDistance].id; isMine(ahead)) {
                    part.firstHolders.prefetch(ahead);
                }
            }
            if (isMine(records[position].id)) {
                add(collection, position, records[position].id);
            }
        }
    });
}

// Zero ids are in no table; each collection remembers where its first one is.
void DocumentIdentities::registerZeroIds()
{
    forEachId([&](CollectionTag collection, std::size_t position, const StableId& id) {
        if (!id.isNull()) {
            return;
        }
        std::optional<std::size_t>& firstZero = firstZeroHolders_[index(collection)];
        repeated_[index(collection)] = repeated_[index(collection)] || firstZero.has_value();
        if (!firstZero) {
            firstZero = position;
        }
        zeroIds_.push_back(Repeat{collection, position, id});
    });
}

std::vector<DocumentIdentities::Repeat> DocumentIdentities::addDocument()
{
    std::size_t idCount = 1;
    forEachTaggedCollection(document_, [&](CollectionTag, const auto& records) { idCount += records.size(); });
    // Every part reads all ids: more parts than cores would only read them again.
    const std::size_t partCount = idCount >= kIdsWorthParts ? std::bit_floor(std::min(kParts, usableCores())) : 1;
    parts_.clear();
    parts_.reserve(partCount);
    for (std::size_t part = 0; part < partCount; ++part) {
        parts_.emplace_back(document_);
    }
    {
        std::vector<std::future<void>> running;
        for (std::size_t part = 1; part < partCount; ++part) {
            running.push_back(startBeside(true, [this, part, idCount] { registerPart(part, idCount); }));
        }
        registerPart(0, idCount);
        registerZeroIds();
        for (std::future<void>& part : running) {
            part.get();
        }
    }
    std::vector<Repeat> repeats = std::move(zeroIds_);
    for (Part& part : parts_) {
        repeats.insert(repeats.end(), part.repeats.begin(), part.repeats.end());
        part.repeats = {};
        for (std::size_t collection = 0; collection < kCollectionTagCount; ++collection) {
            repeated_[collection] = repeated_[collection] || part.repeated[collection];
        }
    }
    std::sort(repeats.begin(), repeats.end(), [](const Repeat& first, const Repeat& second) {
        return std::pair{rankOf(first.collection), first.position} <
               std::pair{rankOf(second.collection), second.position};
    });
    return repeats;
}

std::optional<std::size_t> DocumentIdentities::firstPosition(const StableId& id, CollectionTag collection) const
{
    if (id.isNull()) {
        return firstZeroHolders_[index(collection)];
    }
    if (parts_.empty()) {
        return std::nullopt;
    }
    const Part& part = partFor(id);
    if (std::uint64_t packed = 0; part.firstHolders.find(id, packed)) {
        if (heldBy(static_cast<std::size_t>(packed), collection)) {
            return static_cast<std::size_t>(packed >> kTagBits);
        }
        if (const auto other = part.otherHolders.find(Holder{id, collection}); other != part.otherHolders.end()) {
            return other->second;
        }
    }
    return std::nullopt;
}

}  // namespace vexilo::analysis::validation
