#include "vexilo/analysis/cache/CacheWriter.h"

#include "vexilo/analysis/StableIdTable.h"

#include "validation/HolderIndex.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace vexilo::analysis {
namespace {

using DocumentIndex = std::size_t;
using Placement = PictureDocumentSplit::Placement;

constexpr DocumentIndex kUnplaced = std::numeric_limits<DocumentIndex>::max();

// The collections a picture document takes records from; a record's owner may only be found
// through records of collections placed before it.
constexpr auto kPlacedCollections = std::make_tuple(
    &StreamAnalysis::slices, &StreamAnalysis::referencePictures, &StreamAnalysis::shortTermReferencePictures,
    &StreamAnalysis::longTermReferencePictures, &StreamAnalysis::dpbSnapshotEntries, &StreamAnalysis::nalUnits,
    &StreamAnalysis::seiMessages, &StreamAnalysis::ctus, &StreamAnalysis::cus, &StreamAnalysis::pus,
    &StreamAnalysis::tus, &StreamAnalysis::motionVectors, &StreamAnalysis::errors);
static_assert(std::tuple_size_v<decltype(kPlacedCollections)> == PictureDocumentSplit::kPlacedCollectionCount);

// The slot of a collection in kPlacedCollections.
template <typename Member, std::size_t Slot = 0>
constexpr std::size_t slotOf(Member collection)
{
    if constexpr (Slot == PictureDocumentSplit::kPlacedCollectionCount) {
        return Slot;
    } else {
        if constexpr (std::is_same_v<std::tuple_element_t<Slot, decltype(kPlacedCollections)>, const Member>) {
            if (std::get<Slot>(kPlacedCollections) == collection) {
                return Slot;
            }
        }
        return slotOf<Member, Slot + 1>(collection);
    }
}

// The identity of the record at `position` of the placed collection in `slot`.
StableId placedRecordId(const StreamAnalysis& analysis, std::size_t slot, std::size_t position)
{
    StableId id;
    std::size_t member = 0;
    std::apply(
        [&](auto... collections) {
            ((member++ == slot ? static_cast<void>(id = (analysis.*collections)[position].id) : static_cast<void>(0)),
             ...);
        },
        kPlacedCollections);
    return id;
}

// The picture that owns an identity; the first owner an identity is given stays. Each entry
// names the record that holds the identity and the table keeps one word per entry, the
// identity being read back from the record: a document of millions of blocks needs a third
// of the memory a table of identities would, and first touching that memory is most of what
// placing its records costs.
//
// Entries whose identity the caller knows no other entry holds are hashed only once a lookup
// needs them: the blocks of a validated document are placed through the cursor over their
// parents, which asks the table almost never, so most of them are never hashed at all.
class OwnerIndex {
public:
    // Who holds an identity: a record of a placed collection (its slot), a picture summary, or
    // a slice naming its NAL unit.
    static constexpr std::uint64_t kPictureSummary = PictureDocumentSplit::kPlacedCollectionCount;
    static constexpr std::uint64_t kNalUnitOfSlice = kPictureSummary + 1;

    explicit OwnerIndex(const StreamAnalysis& analysis) : analysis_(analysis), entryIds_(EntryId{this}) {}
    OwnerIndex(const OwnerIndex&) = delete;
    OwnerIndex& operator=(const OwnerIndex&) = delete;

    // Room for `count` entries, of which `hashedCount` are hashed as they come.
    void reserve(std::size_t count, std::size_t hashedCount)
    {
        entryIds_.reserve(hashedCount);
        holders_.reserve(count);
        owners_.reserve(count);
    }

    // Gives the (non-null) identity its owner unless it has one; false when it had one.
    bool insert(const StableId& id, std::uint64_t holderKind, std::size_t position, DocumentIndex owner)
    {
        if (id.isNull()) {
            return true;
        }
        hashPending();
        holders_.push_back(position << kKindBits | holderKind);
        owners_.push_back(owner);
        if (!entryIds_.insert(id, holders_.size() - 1).inserted) {
            holders_.pop_back();
            owners_.pop_back();
            return false;
        }
        hashedEntries_ = holders_.size();
        return true;
    }

    // Gives the (non-null) identity its owner; the caller knows that no entry holds it yet, nor
    // will one before it is hashed.
    void insertUnheld(const StableId& id, std::uint64_t holderKind, std::size_t position, DocumentIndex owner)
    {
        if (!id.isNull()) {
            holders_.push_back(position << kKindBits | holderKind);
            owners_.push_back(owner);
        }
    }

    [[nodiscard]] const DocumentIndex* find(const StableId& id)
    {
        std::uint64_t entry = 0;
        if (id.isNull() || !findEntry(id, entry)) {
            return nullptr;
        }
        return &owners_[entry];
    }

    // The position of the record whose entry the identity has, when that entry is of the kind
    // given (a placed collection's slot or kPictureSummary).
    [[nodiscard]] std::optional<std::size_t> holderPosition(const StableId& id, std::uint64_t holderKind)
    {
        std::uint64_t entry = 0;
        if (id.isNull() || !findEntry(id, entry) || (holders_[entry] & kKindMask) != holderKind) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(holders_[entry] >> kKindBits);
    }

private:
    static constexpr unsigned kKindBits = 4;
    static constexpr std::uint64_t kKindMask = (std::uint64_t{1} << kKindBits) - 1;
    static_assert(kNalUnitOfSlice <= kKindMask);

    struct EntryId {
        const OwnerIndex* index;
        StableId operator()(std::uint64_t entry) const { return index->idOfHolder(index->holders_[entry]); }
    };

    bool findEntry(const StableId& id, std::uint64_t& entry)
    {
        hashPending();
        return entryIds_.find(id, entry);
    }

    // Entries are hashed in the order they came, so the first holder of an identity stays its
    // owner as if each had been hashed at once.
    void hashPending()
    {
        if (hashedEntries_ == holders_.size()) {
            return;
        }
        entryIds_.reserve(holders_.size());
        for (; hashedEntries_ < holders_.size(); ++hashedEntries_) {
            entryIds_.insert(idOfHolder(holders_[hashedEntries_]), hashedEntries_);
        }
    }

    [[nodiscard]] StableId idOfHolder(std::uint64_t holder) const
    {
        const std::uint64_t kind = holder & kKindMask;
        const auto position = static_cast<std::size_t>(holder >> kKindBits);
        if (kind == kPictureSummary) {
            return analysis_.pictures[position].id;
        }
        if (kind == kNalUnitOfSlice) {
            return analysis_.slices[position].parentNalUnitId;
        }
        return placedRecordId(analysis_, static_cast<std::size_t>(kind), position);
    }

    const StreamAnalysis& analysis_;
    validation::HolderIndex<EntryId> entryIds_;
    std::vector<std::uint64_t> holders_;
    std::vector<DocumentIndex> owners_;
    // Entries before this one are in entryIds_.
    std::size_t hashedEntries_ = 0;
};

// Picture positions by one key of their summaries, sorted once: the first summary that
// carries a key keeps it.
template <typename Key>
class PictureKeyIndex {
public:
    void add(const std::optional<Key>& key, DocumentIndex index)
    {
        if (key) {
            entries_.emplace_back(*key, index);
        }
    }

    // Call once every summary is added.
    void seal()
    {
        std::stable_sort(entries_.begin(), entries_.end(),
                         [](const Entry& left, const Entry& right) { return left.first < right.first; });
        entries_.erase(std::unique(entries_.begin(), entries_.end(),
                                   [](const Entry& left, const Entry& right) { return left.first == right.first; }),
                       entries_.end());
    }

    [[nodiscard]] std::optional<DocumentIndex> find(const std::optional<Key>& key) const
    {
        if (!key) {
            return std::nullopt;
        }
        const auto found = std::lower_bound(entries_.begin(), entries_.end(), *key,
                                            [](const Entry& entry, const Key& wanted) { return entry.first < wanted; });
        return found != entries_.end() && found->first == *key ? std::optional<DocumentIndex>(found->second)
                                                               : std::nullopt;
    }

private:
    using Entry = std::pair<Key, DocumentIndex>;
    std::vector<Entry> entries_;
};

// Which picture document a slice or CTU belongs to, by the summary's keys.
struct PictureKeyTables {
    PictureKeyIndex<StableId> bySummaryId;
    PictureKeyIndex<std::uint64_t> byPictureId;
    PictureKeyIndex<std::int64_t> byDisplayIndex;
    PictureKeyIndex<std::int32_t> byPoc;
};

void takeRootFields(const StreamAnalysis& analysis, StreamAnalysis& document)
{
    document.id = analysis.id;
    document.schemaVersion = analysis.schemaVersion;
    document.minimumReaderVersion = analysis.minimumReaderVersion;
    document.compactId = analysis.compactId;
    document.sourceFingerprint = analysis.sourceFingerprint;
    document.profile = analysis.profile;
    document.width = analysis.width;
    document.height = analysis.height;
    document.bitDepth = analysis.bitDepth;
}

StreamAnalysis withRootFields(const StreamAnalysis& analysis)
{
    StreamAnalysis document;
    takeRootFields(analysis, document);
    return document;
}

template <typename Key>
std::optional<DocumentIndex> lookUp(const PictureKeyIndex<Key>& index, const std::optional<Key>& key)
{
    return index.find(key);
}

std::optional<DocumentIndex> lookUp(OwnerIndex& owners, const std::optional<StableId>& id)
{
    if (!id) {
        return std::nullopt;
    }
    const DocumentIndex* found = owners.find(*id);
    return found == nullptr ? std::nullopt : std::optional<DocumentIndex>(*found);
}

std::optional<DocumentIndex> firstFound(std::optional<DocumentIndex> first,
                                        std::optional<DocumentIndex> second)
{
    return first ? first : second;
}

// Where each picture's run of records starts, when every record has an owner and each
// owner's records lie together; nothing otherwise.
std::optional<std::vector<std::size_t>> runStartsOf(const std::vector<DocumentIndex>& ownerOfRecord,
                                                    std::size_t pictureCount)
{
    std::vector<std::size_t> runStarts(pictureCount, kUnplaced);
    for (std::size_t record = 0; record < ownerOfRecord.size(); ++record) {
        const DocumentIndex owner = ownerOfRecord[record];
        if (owner == kUnplaced) {
            return std::nullopt;
        }
        if (record > 0 && owner == ownerOfRecord[record - 1]) {
            continue;
        }
        if (runStarts[owner] != kUnplaced) {
            return std::nullopt;
        }
        runStarts[owner] = record;
    }
    // A picture without records reads none from wherever its run starts.
    std::replace(runStarts.begin(), runStarts.end(), kUnplaced, std::size_t{0});
    return runStarts;
}

// Groups record positions by their owner, keeping document order within each picture;
// records without an owner go nowhere. The builder stores each picture's blocks together,
// so millions of blocks usually need no list of their positions.
Placement bucketByOwner(const std::vector<DocumentIndex>& ownerOfRecord, std::size_t pictureCount)
{
    Placement placement;
    placement.offsets.assign(pictureCount + 1, 0);
    for (const DocumentIndex owner : ownerOfRecord) {
        if (owner != kUnplaced) {
            ++placement.offsets[owner + 1];
        }
    }
    for (std::size_t index = 1; index <= pictureCount; ++index) {
        placement.offsets[index] += placement.offsets[index - 1];
    }
    if (std::optional<std::vector<std::size_t>> runStarts = runStartsOf(ownerOfRecord, pictureCount)) {
        placement.runStarts = std::move(*runStarts);
        return placement;
    }
    placement.records.resize(placement.offsets[pictureCount]);
    std::vector<std::size_t> next(placement.offsets.begin(), placement.offsets.end() - 1);
    for (std::size_t record = 0; record < ownerOfRecord.size(); ++record) {
        if (const DocumentIndex owner = ownerOfRecord[record]; owner != kUnplaced) {
            placement.records[next[owner]++] = record;
        }
    }
    return placement;
}

// The owner of a block's parent, found among the parent collection's records: blocks are
// stored in the order of their parents, so a short scan on from the last parent found nearly
// always meets the next one, and millions of blocks need no lookup in the owner table. What
// the scan finds is the table's answer only while every parent that entered the table was the
// first holder of its identity; otherwise, and when the scan misses, the table is asked.
template <typename Parent>
class ParentCursor {
public:
    ParentCursor(const std::vector<Parent>& parents, const std::vector<DocumentIndex>& ownerOfParent,
                 bool firstHoldersOnly)
        : parents_(parents), ownerOfParent_(ownerOfParent), usable_(firstHoldersOnly),
          longScanBudget_(parents.size())
    {
    }

    // The parent's owner, or nothing when the table has to be asked.
    [[nodiscard]] std::optional<DocumentIndex> ownerOf(const StableId& parentId)
    {
        if (!usable_ || parentId.isNull()) {
            return std::nullopt;
        }
        std::optional<std::size_t> position = scanFor(parentId, kScanLength);
        if (!position && longScanBudget_ > 0) {
            // Runs of parents without children of this kind (skipped CUs have no TUs, intra PUs
            // no motion vectors) are passed by a longer scan. Such scans together go over the
            // parents at most once more, so children whose parents lie behind cost the table's
            // answer, never a search per child through the whole collection.
            const std::size_t budget = longScanBudget_;
            position = scanFor(parentId, budget);
            longScanBudget_ = position ? budget - (*position - cursor_) : 0;
        }
        if (!position) {
            return std::nullopt;
        }
        cursor_ = *position;
        // A parent placed nowhere made no entry; the identity may still have an owner.
        const DocumentIndex owner = ownerOfParent_[*position];
        return owner != kUnplaced ? std::optional<DocumentIndex>(owner) : std::nullopt;
    }

    // Where the scan goes on from after the table found the parent elsewhere.
    void moveTo(std::size_t position) noexcept { cursor_ = position; }

private:
    // The split nodes of a quadtree between two leaves, and a little more.
    static constexpr std::size_t kScanLength = 8;

    [[nodiscard]] std::optional<std::size_t> scanFor(const StableId& parentId, std::size_t length) const
    {
        const std::size_t scanEnd = std::min(parents_.size(), cursor_ + length);
        for (std::size_t position = cursor_; position < scanEnd; ++position) {
            if (parents_[position].id == parentId) {
                return position;
            }
        }
        return std::nullopt;
    }

    const std::vector<Parent>& parents_;
    const std::vector<DocumentIndex>& ownerOfParent_;
    bool usable_;
    std::size_t cursor_ = 0;
    // Parents the longer scans may still pass over.
    std::size_t longScanBudget_;
};

// Works out the picture of every record, collection by collection: a slice by its
// picture's keys, everything else through the owner of an object placed before it.
class PicturePlanner {
public:
    PicturePlanner(const StreamAnalysis& analysis, PictureDocumentSplit::Identities identities)
        : analysis_(analysis), owners_(analysis),
          blockIdentitiesUnheld_(identities == PictureDocumentSplit::Identities::validated)
    {
    }

    std::array<Placement, PictureDocumentSplit::kPlacedCollectionCount> plan()
    {
        indexPictures();
        placeSlices();
        placeByParent(&StreamAnalysis::referencePictures, &ReferencePictureEntry::parentSliceId, OwnerEntry::ifNamed);
        placeByParent(&StreamAnalysis::shortTermReferencePictures,
                      &ShortTermReferencePictureEntry::parentSliceId, OwnerEntry::ifNamed);
        placeByParent(&StreamAnalysis::longTermReferencePictures,
                      &LongTermReferencePictureEntry::parentSliceId, OwnerEntry::ifNamed);
        placeByParent(&StreamAnalysis::dpbSnapshotEntries, &DpbSnapshotEntry::parentSliceId, OwnerEntry::ifNamed);
        place(&StreamAnalysis::nalUnits, [this](const NalUnitInfo& unit, std::size_t) {
            return firstFound(lookUp(keys_.byPictureId, unit.pictureId),
                              lookUp(owners_, std::optional<StableId>(unit.id)));
        });
        place(
            &StreamAnalysis::seiMessages,
            [this](const SeiMessageInfo& message, std::size_t) {
                return firstFound(lookUp(keys_.byPictureId, message.pictureId),
                                  lookUp(owners_, std::optional<StableId>(message.parentNalUnitId)));
            },
            OwnerEntry::ifNamed);
        place(&StreamAnalysis::ctus, [this](const CtuInfo& ctu, std::size_t) {
            // Picture summaries entered the owner table before anything else, so a summary that
            // holds the identity is the table's answer; the table itself is asked only for what
            // no summary holds.
            const std::optional<StableId> parentId(ctu.parentPictureSummaryId);
            if (const std::optional<DocumentIndex> summary = lookUp(keys_.bySummaryId, parentId)) {
                return summary;
            }
            return lookUp(owners_, parentId);
        });
        placeByPlacedParent(&StreamAnalysis::cus, &CuInfo::parentCtuId, &StreamAnalysis::ctus);
        placeByPlacedParent(&StreamAnalysis::pus, &PuInfo::parentCuId, &StreamAnalysis::cus);
        placeByPlacedParent(&StreamAnalysis::tus, &TuInfo::parentCuId, &StreamAnalysis::cus, OwnerEntry::ifNamed);
        releaseOwnersOf(&StreamAnalysis::ctus);
        releaseOwnersOf(&StreamAnalysis::cus);
        placeByPlacedParent(&StreamAnalysis::motionVectors, &MotionVectorInfo::parentPuId, &StreamAnalysis::pus,
                            OwnerEntry::ifNamed);
        releaseOwnersOf(&StreamAnalysis::pus);
        // An error makes no owner entry: nothing hangs below it.
        place(
            &StreamAnalysis::errors,
            [this](const AnalysisErrorInfo& error, std::size_t) {
                return lookUp(owners_, error.relatedObjectId);
            },
            OwnerEntry::never);
        return std::move(placements_);
    }

private:
    // Sized once: a long stream places millions of records, and growing the table as they
    // come would rehash it again and again. Only records something may hang from, and
    // those an error names, get an entry.
    void reserveTables()
    {
        const std::size_t blockEntries = analysis_.ctus.size() + analysis_.cus.size() + analysis_.pus.size();
        const std::size_t otherEntries = analysis_.pictures.size() + 2 * analysis_.slices.size() +
                                         analysis_.nalUnits.size() + analysis_.errors.size();
        owners_.reserve(blockEntries + otherEntries,
                        blockIdentitiesUnheld_ ? otherEntries : blockEntries + otherEntries);
        for (const AnalysisErrorInfo& error : analysis_.errors) {
            if (error.relatedObjectId) {
                namedByErrors_.insert(*error.relatedObjectId, {});
            }
        }
    }

    void indexPictures()
    {
        reserveTables();
        for (DocumentIndex index = 0; index < analysis_.pictures.size(); ++index) {
            const PictureAnalysisSummary& summary = analysis_.pictures[index];
            owners_.insert(summary.id, OwnerIndex::kPictureSummary, index, index);
            keys_.bySummaryId.add(summary.id.isNull() ? std::nullopt : std::optional<StableId>(summary.id), index);
            keys_.byPictureId.add(summary.pictureId, index);
            keys_.byDisplayIndex.add(summary.displayIndex, index);
            keys_.byPoc.add(summary.poc, index);
        }
        keys_.bySummaryId.seal();
        keys_.byPictureId.seal();
        keys_.byDisplayIndex.seal();
        keys_.byPoc.seal();
    }

    void placeSlices()
    {
        place(&StreamAnalysis::slices, [this](const SliceInfo& slice, std::size_t position) {
            const auto owner =
                firstFound(firstFound(lookUp(keys_.byPictureId, slice.pictureId),
                                      lookUp(keys_.byDisplayIndex, slice.displayIndex)),
                           lookUp(keys_.byPoc, slice.poc));
            if (owner) {
                // The slice draws its NAL unit into the same document.
                owners_.insert(slice.parentNalUnitId, OwnerIndex::kNalUnitOfSlice, position, *owner);
            }
            return owner;
        });
    }

    // Whether a placed record's identity goes into the owner table: always for records
    // others hang from, only when an error names it for the leaves of the tree.
    enum class OwnerEntry { always, ifNamed, never };

    [[nodiscard]] bool entersOwners(OwnerEntry entry, const StableId& id) const
    {
        return entry == OwnerEntry::always || (entry == OwnerEntry::ifNamed && namedByErrors_.contains(id));
    }

    // Gives a placed record's identity its owner; false when another entry held it first.
    bool enterOwner(const StableId& id, std::size_t slot, std::size_t position, DocumentIndex owner)
    {
        if (blockIdentitiesUnheld_ && slot >= kFirstBlockSlot) {
            owners_.insertUnheld(id, slot, position, owner);
            return true;
        }
        return owners_.insert(id, slot, position, owner);
    }

    template <typename Record, typename FindOwner>
    void place(std::vector<Record> StreamAnalysis::*collection, FindOwner findOwner,
               OwnerEntry entry = OwnerEntry::always)
    {
        const std::vector<Record>& records = analysis_.*collection;
        const std::size_t slot = slotOf(collection);
        std::vector<DocumentIndex>& ownerOfRecord = ownerOfRecord_[slot];
        ownerOfRecord.clear();
        ownerOfRecord.reserve(records.size());
        bool firstHoldersOnly = true;
        for (std::size_t position = 0; position < records.size(); ++position) {
            const Record& record = records[position];
            const std::optional<DocumentIndex> owner = findOwner(record, position);
            ownerOfRecord.push_back(owner.value_or(kUnplaced));
            if (owner && entersOwners(entry, record.id)) {
                firstHoldersOnly &= enterOwner(record.id, slot, position, *owner);
            }
        }
        firstHoldersOnly_[slot] = firstHoldersOnly;
        placements_[slot] = bucketByOwner(ownerOfRecord, analysis_.pictures.size());
    }

    template <typename Record>
    void releaseOwnersOf(std::vector<Record> StreamAnalysis::*collection)
    {
        std::vector<DocumentIndex>().swap(ownerOfRecord_[slotOf(collection)]);
    }

    template <typename Record>
    void placeByParent(std::vector<Record> StreamAnalysis::*collection, StableId Record::*parent,
                       OwnerEntry entry = OwnerEntry::always)
    {
        place(
            collection,
            [this, parent](const Record& record, std::size_t) {
                return lookUp(owners_, std::optional<StableId>(record.*parent));
            },
            entry);
    }

    // The same for blocks whose parents are records placed before them.
    template <typename Record, typename Parent>
    void placeByPlacedParent(std::vector<Record> StreamAnalysis::*collection, StableId Record::*parent,
                             std::vector<Parent> StreamAnalysis::*parentCollection,
                             OwnerEntry entry = OwnerEntry::always)
    {
        const std::size_t parentSlot = slotOf(parentCollection);
        ParentCursor<Parent> parents(analysis_.*parentCollection, ownerOfRecord_[parentSlot],
                                     firstHoldersOnly_[parentSlot]);
        place(
            collection,
            [this, parent, parentSlot, &parents](const Record& record, std::size_t) {
                const StableId& parentId = record.*parent;
                if (const std::optional<DocumentIndex> owner = parents.ownerOf(parentId)) {
                    return owner;
                }
                if (const std::optional<std::size_t> position = owners_.holderPosition(parentId, parentSlot)) {
                    parents.moveTo(*position);
                }
                return lookUp(owners_, std::optional<StableId>(parentId));
            },
            entry);
    }

    // The block collections take the last slots but for the errors'.
    static constexpr std::size_t kFirstBlockSlot = slotOf(&StreamAnalysis::ctus);

    const StreamAnalysis& analysis_;
    std::array<Placement, PictureDocumentSplit::kPlacedCollectionCount> placements_;
    // Where each record of a collection went, kept while its children are placed.
    std::array<std::vector<DocumentIndex>, PictureDocumentSplit::kPlacedCollectionCount> ownerOfRecord_;
    // Whether each record of a collection that entered the owner table was the first holder of
    // its identity.
    std::array<bool, PictureDocumentSplit::kPlacedCollectionCount> firstHoldersOnly_{};
    OwnerIndex owners_;
    // In a validated document no two records share an identity, and a slice names a NAL unit,
    // never a block: no entry can hold a block's identity before the block enters.
    bool blockIdentitiesUnheld_;
    StableIdSet namedByErrors_;
    PictureKeyTables keys_;
};

}  // namespace

PictureDocumentSplit::PictureDocumentSplit(const StreamAnalysis& analysis, Identities identities)
    : analysis_(analysis), placements_(PicturePlanner(analysis, identities).plan())
{
}

void PictureDocumentSplit::fill(std::size_t index, StreamAnalysis& document) const
{
    takeRootFields(analysis_, document);
    document.parameterSets.clear();
    document.pictures.assign(1, analysis_.pictures[index]);
    std::size_t slot = 0;
    std::apply(
        [&](auto... members) {
            (
                [&](auto member) {
                    const Placement& placement = placements_[slot++];
                    auto& target = document.*member;
                    const auto& source = analysis_.*member;
                    const std::size_t first = placement.offsets[index];
                    const std::size_t end = placement.offsets[index + 1];
                    if (!placement.runStarts.empty()) {
                        const auto run = source.begin() + static_cast<std::ptrdiff_t>(placement.runStarts[index]);
                        target.assign(run, run + static_cast<std::ptrdiff_t>(end - first));
                        return;
                    }
                    target.clear();
                    for (std::size_t at = first; at < end; ++at) {
                        target.push_back(source[placement.records[at]]);
                    }
                }(members),
                ...);
        },
        kPlacedCollections);
}

bool PictureDocumentSplit::hasBlockStructure(std::size_t index) const noexcept
{
    const auto holdsRecords = [&](auto collection) {
        const Placement& placement = placements_[slotOf(collection)];
        return placement.offsets[index + 1] != placement.offsets[index];
    };
    return holdsRecords(&StreamAnalysis::ctus) || holdsRecords(&StreamAnalysis::cus) ||
           holdsRecords(&StreamAnalysis::pus) || holdsRecords(&StreamAnalysis::tus) ||
           holdsRecords(&StreamAnalysis::motionVectors);
}

bool hasBlockStructure(const StreamAnalysis& document) noexcept
{
    return !document.ctus.empty() || !document.cus.empty() || !document.pus.empty() ||
           !document.tus.empty() || !document.motionVectors.empty();
}

void clearBlockStructure(StreamAnalysis& document) noexcept
{
    document.ctus.clear();
    document.cus.clear();
    document.pus.clear();
    document.tus.clear();
    document.motionVectors.clear();
}

StreamAnalysis buildStreamMetaDocument(const StreamAnalysis& analysis)
{
    StreamAnalysis document = withRootFields(analysis);
    document.nalUnits = analysis.nalUnits;
    document.parameterSets = analysis.parameterSets;
    document.seiMessages = analysis.seiMessages;
    document.pictures = analysis.pictures;
    // Slices stay here as well as in their pictures' files: whole-stream figures (slice
    // counts by type, the QP range) then need no picture file, and a slice is small.
    document.slices = analysis.slices;
    for (const AnalysisErrorInfo& error : analysis.errors) {
        if (!error.relatedObjectId) {
            document.errors.push_back(error);
        }
    }
    return document;
}

std::vector<StreamAnalysis> buildPictureDocument(const StreamAnalysis& analysis)
{
    const PictureDocumentSplit split(analysis);
    std::vector<StreamAnalysis> documents(split.size());
    for (std::size_t index = 0; index < documents.size(); ++index) {
        split.fill(index, documents[index]);
    }
    return documents;
}

void mergeExistingPictureStructure(StreamAnalysis& newDoc, const StreamAnalysis& cachedDoc)
{
    if (hasBlockStructure(newDoc) || !hasBlockStructure(cachedDoc)) {
        return;
    }
    newDoc.ctus = cachedDoc.ctus;
    newDoc.cus = cachedDoc.cus;
    newDoc.pus = cachedDoc.pus;
    newDoc.tus = cachedDoc.tus;
    newDoc.motionVectors = cachedDoc.motionVectors;
    if (newDoc.pictures.size() == 1 && cachedDoc.pictures.size() == 1) {
        PictureAnalysisSummary& target = newDoc.pictures.front();
        const PictureAnalysisSummary& cached = cachedDoc.pictures.front();
        target.ctuCount = cached.ctuCount;
        target.cuCount = cached.cuCount;
        target.puCount = cached.puCount;
        target.tuCount = cached.tuCount;
    }
}

}  // namespace vexilo::analysis
