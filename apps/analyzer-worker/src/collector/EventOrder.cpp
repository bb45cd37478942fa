#include "collector/EventOrder.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <unordered_map>

namespace vexilo::analyzer {
namespace {

constexpr std::uint64_t kAbsentKey = ~std::uint64_t{0};
constexpr std::size_t kSortKeyCount = 12;

struct SliceKey {
    std::uint64_t nalPosition = kAbsentKey;
    std::uint64_t pictureKey = kAbsentKey;
    std::uint64_t sliceOrder = kAbsentKey;
};

using NalPositions = std::unordered_map<std::uint64_t, std::uint64_t>;
using SliceKeys = std::unordered_map<std::uint64_t, SliceKey>;

struct OrderedEvent {
    std::array<std::uint64_t, kSortKeyCount> keys{};
    std::uint64_t index = 0;
};

std::uint64_t asKey(std::int64_t value) noexcept
{
    return static_cast<std::uint64_t>(value);
}

std::uint64_t nalUnitPosition(const ObserverEventRecord& record) noexcept
{
    const VexiloObserverNalUnitEvent& nal = record.payload.nalUnit;
    if (nal.byteLocationKnown != 0 && nal.byteOffset >= 0) {
        return static_cast<std::uint64_t>(nal.byteOffset);
    }
    return record.ordinal;
}

std::uint64_t ownSliceOrder(const ObserverEventRecord& record) noexcept
{
    const VexiloObserverSliceEvent& slice = record.payload.slice;
    return (slice.presentMaskA & VEXILO_OBSERVER_SLICE_A_SLICE_SEGMENT_ADDRESS) != 0 ? slice.sliceSegmentAddress
                                                                                     : slice.firstCtuAddress;
}

std::uint32_t kindPriority(std::uint32_t kind) noexcept
{
    switch (kind) {
    case VEXILO_OBSERVER_EVENT_START_MARKER: return 0;
    case VEXILO_OBSERVER_EVENT_NAL_UNIT: return 10;
    case VEXILO_OBSERVER_EVENT_VPS:
    case VEXILO_OBSERVER_EVENT_SPS:
    case VEXILO_OBSERVER_EVENT_PPS: return 20;
    case VEXILO_OBSERVER_EVENT_VPS_LAYER_SET: return 21;
    case VEXILO_OBSERVER_EVENT_SEI_MESSAGE: return 25;
    case VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC: return 26;
    case VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER: return 30;
    case VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY: return 40;
    case VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY: return 41;
    case VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY: return 42;
    case VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY: return 43;
    case VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER: return 44;
    case VEXILO_OBSERVER_EVENT_CTU: return 50;
    case VEXILO_OBSERVER_EVENT_CU: return 51;
    case VEXILO_OBSERVER_EVENT_PU: return 52;
    case VEXILO_OBSERVER_EVENT_TU: return 53;
    case VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT: return 60;
    case VEXILO_OBSERVER_EVENT_PICTURE_LIFECYCLE: return 70;
    case VEXILO_OBSERVER_EVENT_PICTURE_LIFECYCLE_UPDATE: return 71;
    case VEXILO_OBSERVER_EVENT_LIFECYCLE: return 80;
    case VEXILO_OBSERVER_EVENT_END_MARKER: return 255;
    default: return 200;
    }
}

std::uint64_t phaseOf(std::uint32_t kind) noexcept
{
    if (kind == VEXILO_OBSERVER_EVENT_START_MARKER) {
        return 0;
    }
    return kind == VEXILO_OBSERVER_EVENT_END_MARKER ? 2 : 1;
}

std::uint64_t secondaryKey(const ObserverEventRecord& record) noexcept
{
    const ObserverEventPayload& p = record.payload;
    switch (record.kind) {
    case VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY: return p.shortTermRps.entryIndex;
    case VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY: return p.longTermRps.entryIndex;
    case VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY: return p.referenceList.listIndex;
    case VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY: return p.dpbEntry.slot;
    case VEXILO_OBSERVER_EVENT_CU: return p.cu.cuOrderKey;
    case VEXILO_OBSERVER_EVENT_PU: return p.pu.cuIdentity;
    case VEXILO_OBSERVER_EVENT_TU: return p.tu.tuOrderKey;
    case VEXILO_OBSERVER_EVENT_VPS_LAYER_SET: return p.vpsLayerSet.layerSetIndex;
    default: return 0;
    }
}

std::uint64_t identityKey(const ObserverEventRecord& record) noexcept
{
    const ObserverEventPayload& p = record.payload;
    switch (record.kind) {
    case VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY:
        return (std::uint64_t{p.referenceList.list} << 32) | p.referenceList.listIndex;
    case VEXILO_OBSERVER_EVENT_CU: return p.cu.cuIdentity;
    case VEXILO_OBSERVER_EVENT_PU: return (p.pu.cuIdentity << 8) | p.pu.partIndex;
    case VEXILO_OBSERVER_EVENT_TU: return p.tu.tuIdentity;
    default: return record.sliceIdentity != 0 ? record.sliceIdentity : record.nalIdentity;
    }
}

std::uint64_t contentHashKey(const ObserverEventRecord& record) noexcept
{
    switch (record.kind) {
    case VEXILO_OBSERVER_EVENT_NAL_UNIT: return record.payload.nalUnit.contentHash;
    case VEXILO_OBSERVER_EVENT_VPS:
    case VEXILO_OBSERVER_EVENT_SPS:
    case VEXILO_OBSERVER_EVENT_PPS: return record.payload.parameterSet.contentHash;
    default: return 0;
    }
}

std::uint64_t payloadHashKey(const ObserverEventRecord& record) noexcept
{
    return record.kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE ? record.payload.sei.payloadHash : 0;
}

bool isPicturePlacedByDisplayIndex(std::uint32_t kind) noexcept
{
    return kind == VEXILO_OBSERVER_EVENT_PICTURE_LIFECYCLE ||
           kind == VEXILO_OBSERVER_EVENT_PICTURE_LIFECYCLE_UPDATE ||
           kind == VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT;
}

class OrderKeyBuilder {
public:
    // NAL positions first: a slice finds its NAL unit's position whatever their order.
    OrderKeyBuilder(std::span<const std::uint64_t> placingEvents, const ObserverEventReader& read)
    {
        ObserverEventRecord record;
        for (const std::uint64_t index : placingEvents) {
            read(index, record);
            if (record.kind == VEXILO_OBSERVER_EVENT_NAL_UNIT && record.nalIdentity != 0) {
                nalPositions_[record.nalIdentity] = nalUnitPosition(record);
            } else if (record.kind == VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER && record.sliceIdentity != 0) {
                sliceRecords_.push_back(SliceSource{record.sliceIdentity, record.nalIdentity, record.ordinal,
                                                    record.pictureIdentity, ownSliceOrder(record)});
            }
        }
        for (const SliceSource& slice : sliceRecords_) {
            sliceKeys_[slice.sliceIdentity] =
                SliceKey{nalPositionOf(slice.nalIdentity, slice.ordinal),
                         slice.pictureIdentity != 0 ? slice.pictureIdentity : slice.ordinal, slice.sliceOrder};
        }
        sliceRecords_.clear();
    }

    std::array<std::uint64_t, kSortKeyCount> keysOf(const ObserverEventRecord& record) const
    {
        const SliceKey* slice = sliceKeyOf(record.sliceIdentity);
        return {phaseOf(record.kind),
                nalPosition(record, slice),
                pictureKey(record, slice),
                sliceOrder(record, slice),
                isBlockEventKind(record.kind) ? record.ctuAddress : 0,
                kindPriority(record.kind),
                secondaryKey(record),
                identityKey(record),
                record.kind,
                contentHashKey(record),
                payloadHashKey(record),
                record.ordinal};
    }

private:
    std::uint64_t nalPositionOf(std::uint64_t nalIdentity, std::uint64_t fallback) const
    {
        const auto found = nalPositions_.find(nalIdentity);
        return found != nalPositions_.end() ? found->second : fallback;
    }

    // The events of one slice come together, its thousands of blocks above all: the slice
    // last looked up is nearly always the next one asked for. Entries of an unordered_map
    // keep their address.
    const SliceKey* sliceKeyOf(std::uint64_t sliceIdentity) const
    {
        if (lastSlice_.valid && lastSlice_.identity == sliceIdentity) {
            return lastSlice_.key;
        }
        const auto found = sliceKeys_.find(sliceIdentity);
        const SliceKey* key = found != sliceKeys_.end() ? &found->second : nullptr;
        lastSlice_ = LastSlice{sliceIdentity, key, true};
        return key;
    }

    std::uint64_t nalPosition(const ObserverEventRecord& record, const SliceKey* slice) const
    {
        if (record.kind == VEXILO_OBSERVER_EVENT_NAL_UNIT) {
            return nalUnitPosition(record);
        }
        if (record.nalIdentity != 0) {
            return nalPositionOf(record.nalIdentity, record.ordinal);
        }
        return slice != nullptr ? slice->nalPosition : kAbsentKey;
    }

    static std::uint64_t pictureKey(const ObserverEventRecord& record, const SliceKey* slice)
    {
        if (isNalGroupEventKind(record.kind)) {
            return 0;
        }
        if (isPicturePlacedByDisplayIndex(record.kind) && record.displayIndex >= 0) {
            return asKey(record.displayIndex) + 1;
        }
        if (record.pictureIdentity != 0) {
            return record.pictureIdentity;
        }
        if (slice != nullptr) {
            return slice->pictureKey;
        }
        return record.displayIndex >= 0 ? asKey(record.displayIndex) + 1 : kAbsentKey;
    }

    static std::uint64_t sliceOrder(const ObserverEventRecord& record, const SliceKey* slice)
    {
        if (record.kind == VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER) {
            return ownSliceOrder(record);
        }
        return slice != nullptr ? slice->sliceOrder : kAbsentKey;
    }

    struct SliceSource {
        std::uint64_t sliceIdentity = 0;
        std::uint64_t nalIdentity = 0;
        std::uint64_t ordinal = 0;
        std::uint64_t pictureIdentity = 0;
        std::uint64_t sliceOrder = 0;
    };

    struct LastSlice {
        std::uint64_t identity = 0;
        const SliceKey* key = nullptr;
        bool valid = false;
    };

    NalPositions nalPositions_;
    SliceKeys sliceKeys_;
    std::vector<SliceSource> sliceRecords_;
    mutable LastSlice lastSlice_;
};

using SortKeys = std::array<std::uint64_t, kSortKeyCount>;

// Phase, NAL position, picture, slice order and CTU address: where an event belongs.
constexpr std::size_t kPlaceKeyCount = 5;

bool samePlace(const SortKeys& first, const SortKeys& second) noexcept
{
    return std::equal(first.begin(), first.begin() + kPlaceKeyCount, second.begin());
}

bool byKeys(const OrderedEvent& first, const OrderedEvent& second) noexcept
{
    return first.keys < second.keys;
}

// The decoder reports events almost in the builder's order: the events of one place (a CTU's
// blocks, a slice's header entries) come together with only their kinds interleaved, and the
// places follow one another in order. Each place is sorted on its own; the few events that
// come out of line (pictures put out later, events without a NAL position, a place behind the
// one before it) are sorted apart and merged in. Millions of events are thus never sorted at
// once, and the result is the same order as one sort of them all.
class PlaceOrder {
public:
    // The events in line are written back into `order` as they are placed, behind the reader
    // that goes through it; the few out of line are merged in at the end. Millions of events
    // then need no second list beside `order`.
    PlaceOrder(const OrderKeyBuilder& keyBuilder, const ObserverEventReader& read, std::vector<std::uint64_t>& order)
        : keyBuilder_(keyBuilder), read_(read), order_(order)
    {
    }

    void add(OrderedEvent event)
    {
        if (!hasNalPosition(event.keys)) {
            outOfLine_.push_back(event);
            return;
        }
        if (!place_.empty() && !samePlace(place_.front().keys, event.keys)) {
            takePlace();
        }
        place_.push_back(event);
    }

    void finish()
    {
        if (!place_.empty()) {
            takePlace();
        }
        std::sort(outOfLine_.begin(), outOfLine_.end(), byKeys);
        mergeOutOfLine();
    }

private:
    static bool hasNalPosition(const SortKeys& keys) noexcept { return keys[1] != kAbsentKey; }

    [[nodiscard]] bool comesFirst(std::uint64_t inLineIndex, const OrderedEvent& outOfLine) const
    {
        ObserverEventRecord record;
        read_(inLineIndex, record);
        return keyBuilder_.keysOf(record) < outOfLine.keys;
    }

    // From the back: the events in line that come after each out-of-line event (found by a
    // binary search, as those in line are in order) move up behind it in one piece. An event
    // in line goes before an out-of-line one only when its keys are smaller.
    void mergeOutOfLine()
    {
        const auto inLineBegin = order_.begin();
        auto inLineEnd = order_.begin() + static_cast<std::ptrdiff_t>(inLineCount_);
        auto slot = order_.end();
        for (auto outOfLine = outOfLine_.rbegin(); outOfLine != outOfLine_.rend(); ++outOfLine) {
            const auto after = std::partition_point(
                inLineBegin, inLineEnd, [&](std::uint64_t inLine) { return comesFirst(inLine, *outOfLine); });
            slot = std::move_backward(after, inLineEnd, slot);
            inLineEnd = after;
            *--slot = outOfLine->index;
        }
    }

    void takePlace()
    {
        std::sort(place_.begin(), place_.end(), byKeys);
        if (lastInLine_ && !(*lastInLine_ < place_.front().keys)) {
            outOfLine_.insert(outOfLine_.end(), place_.begin(), place_.end());
        } else {
            lastInLine_ = place_.back().keys;
            for (const OrderedEvent& event : place_) {
                order_[inLineCount_++] = event.index;
            }
        }
        place_.clear();
    }

    const OrderKeyBuilder& keyBuilder_;
    const ObserverEventReader& read_;
    std::vector<std::uint64_t>& order_;
    std::size_t inLineCount_ = 0;
    std::vector<OrderedEvent> place_;
    std::optional<SortKeys> lastInLine_;
    std::vector<OrderedEvent> outOfLine_;
};

// Producers working on several pictures at once report whole pictures out of order. Each
// picture behind the one before it would fall out of line event by event, to be sorted and
// merged back at a cost of many reads per event; putting the runs in the order of their first
// events first keeps nearly all of them in line.
void putRunsInOrderOfTheirFirstEvents(std::vector<std::uint64_t>& order, std::span<const std::uint64_t> runLengths,
                                      const OrderKeyBuilder& keyBuilder, const ObserverEventReader& read)
{
    struct Run {
        SortKeys firstKeys{};
        std::size_t begin = 0;
        std::size_t length = 0;
    };
    std::vector<Run> runs;
    runs.reserve(runLengths.size());
    std::size_t runsEnd = 0;
    ObserverEventRecord record;
    for (const std::uint64_t length : runLengths) {
        if (length > order.size() - runsEnd) {
            break;
        }
        if (length == 0) {
            continue;
        }
        read(order[runsEnd], record);
        runs.push_back(Run{keyBuilder.keysOf(record), runsEnd, static_cast<std::size_t>(length)});
        runsEnd += static_cast<std::size_t>(length);
    }
    const auto byFirstKeys = [](const Run& first, const Run& second) { return first.firstKeys < second.firstKeys; };
    if (std::is_sorted(runs.begin(), runs.end(), byFirstKeys)) {
        return;
    }
    std::stable_sort(runs.begin(), runs.end(), byFirstKeys);
    const std::vector<std::uint64_t> reported(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(runsEnd));
    auto slot = order.begin();
    for (const Run& run : runs) {
        const auto first = reported.begin() + static_cast<std::ptrdiff_t>(run.begin);
        slot = std::copy(first, first + static_cast<std::ptrdiff_t>(run.length), slot);
    }
}

}  // namespace

void sortObserverEventOrder(std::vector<std::uint64_t>& order, const ObserverEventReader& read,
                            std::span<const std::uint64_t> placingEvents, std::span<const std::uint64_t> runLengths)
{
    if (order.size() <= 1) {
        return;
    }
    // Read in full before `order` changes: `placingEvents` may lie within it.
    const OrderKeyBuilder keyBuilder(placingEvents, read);
    putRunsInOrderOfTheirFirstEvents(order, runLengths, keyBuilder, read);
    PlaceOrder places(keyBuilder, read, order);
    ObserverEventRecord record;
    // Indexed: `places` writes the events it has placed back into `order`, never ahead of here.
    for (std::size_t position = 0; position < order.size(); ++position) {
        const std::uint64_t index = order[position];
        read(index, record);
        places.add(OrderedEvent{keyBuilder.keysOf(record), index});
    }
    places.finish();
}

}  // namespace vexilo::analyzer
