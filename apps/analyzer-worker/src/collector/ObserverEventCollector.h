#pragma once

#include "collector/BlockSpill.h"
#include "collector/CompactEventStore.h"
#include "collector/ObserverEventRelay.h"
#include "observer/ObserverCallback.h"
#include "observer/ObserverEventRecord.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

struct AVCodecContext;

namespace vexilo::analyzer {

// Fatal lines of the collector; the first one recorded wins. Only malformed events are
// fatal: whatever goes wrong with the blocks of a picture costs that picture's blocks alone.
inline constexpr std::uint32_t kFatalLineBadHeader = 906;
inline constexpr std::uint32_t kFatalLineShortEvent = 911;

inline constexpr std::uint64_t kDefaultObserverEventCapacity = 0x10000;
inline constexpr std::uint64_t kMaxObserverEventCapacity = 0x1000000;
// The block budget of "bounded_structure": a quarter of the physical memory, at most 4 GiB.
inline constexpr std::uint64_t kMaxBlockBudgetBytes = std::uint64_t{4} << 30;
inline constexpr std::uint64_t kNoBlockEventBound = 0;

// The defaults are what the worker runs with; smaller values serve tests and the fuzzer.
struct ObserverCollectorLimits {
    std::uint32_t threadSlotCount = 64;
    // Blocks one thread may bring for one CTU before the CTU itself; a 64x64 CTU at the
    // worst density brings 661 (85 CUs, 256 PUs, 320 TUs), so a CTU that needs more is not
    // one the stream can hold and costs its picture's blocks.
    std::uint32_t stagedRecordsPerSlot = 1024;
    // Bytes one picture (without a target picture) may take of compact block storage and of
    // the document records its blocks become: pictures are made into documents one at a
    // time, so only a picture too large by itself loses its blocks to the budget.
    std::uint64_t blockBudgetBytes = kMaxBlockBudgetBytes;
};

[[nodiscard]] std::uint64_t physicalMemoryBytes() noexcept;
// The cores this process may run on, at least one.
[[nodiscard]] int usableCores() noexcept;
// A quarter of the physical memory, at most 4 GiB (the 4 GiB when the memory is unknown).
[[nodiscard]] std::uint64_t defaultBlockBudgetBytes(std::uint64_t physicalMemory) noexcept;

// The most block events (CTUs, CUs, PUs, TUs) one picture of this SPS can bring: every CTB
// split down to minimum coding blocks with four prediction blocks each, and transform trees
// down to the minimum transform size, counting the split nodes of both trees.
// What the document holds for each kept CTU, CU, PU (with its motion vectors) and TU: the
// record and its share of the builder's, validator's and cache writer's tables.
[[nodiscard]] std::uint64_t documentBytesOfBlocks(const std::array<std::uint64_t, 4>& blocksByKind) noexcept;

[[nodiscard]] std::uint64_t maxBlockEventsPerPicture(const VexiloObserverParameterSetEvent& sps) noexcept;

// The blocks one picture lost, for the document's issue about it.
struct PictureBlockLoss {
    std::uint64_t pictureIdentity = 0;
    std::uint64_t droppedEvents = 0;
    std::uint64_t ctus = 0;
    std::uint64_t cus = 0;
    std::uint64_t pus = 0;
    std::uint64_t tus = 0;
};

// What one picture kept of its blocks.
struct PictureBlocksKept {
    // CTUs, CUs, PUs and TUs.
    std::array<std::uint64_t, 4> blocks{};
    std::uint64_t motionVectors = 0;
};

// Receives decoder observer events from any decoder thread, keeps them compactly, counts
// what it cannot keep and, once finalised, offers the events in the builder's order.
// Stream-level events (NAL units, parameter sets, SEI, slices, references, picture output)
// are all kept, however long the stream. Block events go to storage of their picture, each
// thread's blocks of one CTU confirmed by that CTU's event; a picture keeps all its blocks
// or none: when its
// blocks cannot all be kept (budget, event bound, malformed or unplaced blocks), that
// picture alone loses them, and the observer stays attached for everything else.
class ObserverEventCollector final : public ObserverEventSink {
public:
    // `blockEventCapacity` bounds the block events kept over all pictures
    // (kNoBlockEventBound: no bound). With a target picture only its blocks are kept,
    // bounded by what its SPS allows rather than by the capacity or the budget.
    ObserverEventCollector(std::uint64_t blockEventCapacity, std::uint64_t targetPictureIdentity,
                           ObserverCollectorLimits limits = {});
    ~ObserverEventCollector();

    ObserverEventCollector(const ObserverEventCollector&) = delete;
    ObserverEventCollector& operator=(const ObserverEventCollector&) = delete;

    // -22 without calling the decoder for a null context, a second attach, or a call
    // from a thread other than the constructing one.
    int attach(AVCodecContext* context, std::uint64_t eventMask);
    // From now on (before attaching) each picture's blocks go to a file in `directory` once
    // the decoder has put the picture out, and come back when they are read.
    void spillPicturesInto(const std::filesystem::path& directory);
    // Before attaching: the events are kept on a thread of their own, beside the parse that
    // brings them, until the collector is detached. Only where nothing asks the collector
    // about an event before the detach (no target picture).
    void keepEventsOnOwnThread();
    // The decoder's result (0 when not attached); finalises in both cases.
    int detach();

    // 0 = kept or counted as dropped; -1 = fatal.
    int onEvent(const VexiloObserverEventHeader* event) override;

    void finalize();

    [[nodiscard]] std::uint64_t eventCount() const;
    // The index-th event: before finalisation stream events first, then each picture's
    // blocks; after it, the builder's order. Throws std::out_of_range for an index at or
    // beyond eventCount().
    [[nodiscard]] ObserverEventRecord eventAt(std::uint64_t index) const;
    // The same into a record that may be reused (see CompactEventStore::readInto).
    void readEventAt(std::uint64_t index, ObserverEventRecord& record) const;
    // The kind of the index-th event, without reading the rest of it; throws as eventAt.
    [[nodiscard]] std::uint32_t eventKindAt(std::uint64_t index) const;

    // Once finalised: what the picture kept (nothing for one that kept no blocks).
    [[nodiscard]] PictureBlocksKept keptBlocksOf(std::uint64_t pictureIdentity) const;
    // Once finalised: reads the picture's blocks (of one kind, when one is given) in the
    // builder's order into `record` and calls visit(record) for each.
    void forEachBlockOf(std::uint64_t pictureIdentity, const std::function<void(const ObserverEventRecord&)>& visit,
                        ObserverEventRecord& record, std::uint32_t onlyKind = 0) const;
    // Once finalised: starts reading a spilled picture's blocks back and sorting them on a
    // thread beside the caller, for the forEachBlockOf of the same picture and kind that
    // comes next. Nothing on a single core, where the thread would only take turns with it.
    void readBlocksAhead(std::uint64_t pictureIdentity, std::uint32_t onlyKind = 0) const;
    // Once finalised: gives the picture's block storage back; its blocks cannot be read again.
    void releaseBlocksOf(std::uint64_t pictureIdentity);

    // Once finalised: the positions in the builder's order of the events that are not blocks,
    // ascending, and the blocks by kind (CTUs, CUs, PUs, TUs). A reader that needs only the
    // stream's few thousand events and the number of blocks need not go through millions.
    [[nodiscard]] const std::vector<std::uint64_t>& streamEventPositions() const noexcept
    {
        return streamEventPositions_;
    }
    [[nodiscard]] const std::array<std::uint64_t, 4>& blockEventCountsByKind() const noexcept
    {
        return keptBlocksByKind_;
    }
    // Once finalised: the motion vectors the kept PUs carry, at most one per list each.
    [[nodiscard]] std::uint64_t motionVectorCount() const noexcept { return keptMotionVectors_; }

    [[nodiscard]] std::uint64_t droppedCount() const noexcept { return droppedCount_.load(); }
    [[nodiscard]] bool failed() const noexcept { return failed_.load(); }
    [[nodiscard]] std::uint32_t fatalLine() const noexcept { return fatalLine_.load(); }
    [[nodiscard]] std::uint64_t capacity() const noexcept { return blockEventCapacity_; }
    [[nodiscard]] std::uint64_t blockBudgetBytes() const noexcept { return limits_.blockBudgetBytes; }
    [[nodiscard]] bool isAttached() const noexcept { return attachedContext_ != nullptr; }
    // The target picture has been output, so every block event it brings is in.
    [[nodiscard]] bool targetPictureOutput() const noexcept { return targetPictureOutput_.load(); }
    // Pictures whose blocks are all kept, and those that lost theirs, in first-seen order.
    [[nodiscard]] std::uint64_t picturesWithBlocks() const;
    [[nodiscard]] std::vector<PictureBlockLoss> picturesWithLostBlocks() const;
    [[nodiscard]] std::uint64_t blockStorageBytes() const;
    // Kept block events that wait in the spill file; eventCount() counts only those in memory.
    [[nodiscard]] std::uint64_t spilledEventCount() const;
    [[nodiscard]] std::string statisticsText() const;

private:
    struct ThreadSlot;
    struct PictureBlocks;

    ThreadSlot* slotOfCallingThread();
    int fail(std::uint32_t line, std::uint64_t droppedEvents);
    void countDropped(std::uint64_t events) noexcept;

    [[nodiscard]] bool isBlockEventOfAnotherPicture(const VexiloObserverEventHeader& event) const noexcept;
    void noteTargetPictureOutput(const ObserverEventRecord& record) noexcept;
    void noteParameterSet(const ObserverEventRecord& record);
    int appendStreamEvent(const ObserverEventRecord& record);
    int stageBlockEvent(ThreadSlot& slot, const ObserverEventRecord& record);
    int commitCtu(ThreadSlot& slot, const ObserverEventRecord& ctu);
    void openBatchFor(ThreadSlot& slot, const ObserverEventRecord& record);
    void abandonBatch(ThreadSlot& slot);
    void stage(ThreadSlot& slot, const ObserverEventRecord& record);

    // Under blockMutex_. A picture that loses its blocks because storage ran out closes
    // the budget for the pictures after it; one with malformed blocks does not.
    enum class CloseBudget : bool { No, Yes };
    PictureBlocks& picture(std::uint64_t pictureIdentity);
    PictureBlocks& pictureOf(ThreadSlot& slot, std::uint64_t pictureIdentity);
    [[nodiscard]] bool fits(const PictureBlocks& picture, std::uint64_t events) const noexcept;
    void dropPictureBlocks(PictureBlocks& picture, std::uint64_t pendingEvents, CloseBudget closeBudget);
    void keepBatch(ThreadSlot& slot);
    void dropStagedBlocks(ThreadSlot& slot, PictureBlocks& picture, CloseBudget closeBudget);
    static void countReceived(ThreadSlot& slot, PictureBlocks& picture) noexcept;
    // Counts the pending events as dropped, with the picture's blocks when it is known.
    void dropBlocksOf(std::uint64_t pictureIdentity, std::uint64_t pendingEvents);

    void closeOpenBatchesAtFinalize();
    void noteSortedStreamEvents();
    void noteSortedBlocksByPicture();
    void notePlacingEventsOfSpilledPictures();
    void spillPicture(std::uint64_t pictureIdentity);
    [[nodiscard]] static std::uint64_t storedEvents(const PictureBlocks& picture) noexcept;
    // The spilled picture's blocks (of one kind, when one is given), sorted with the events that
    // place them; false when they cannot be read back.
    bool readSpilledBlocks(const PictureBlocks& picture, CompactEventStore& blocks, std::vector<std::uint64_t>& order,
                           std::uint32_t onlyKind) const;
    struct SpilledBlocks {
        CompactEventStore blocks;
        std::vector<std::uint64_t> order;
    };
    // The picture's blocks read ahead, or else read now; no order when they cannot be read.
    [[nodiscard]] SpilledBlocks spilledBlocksOf(const PictureBlocks& picture, std::uint32_t onlyKind) const;
    [[nodiscard]] SpilledBlocks readSpilledPicture(const PictureBlocks& picture, std::uint32_t onlyKind) const;
    [[nodiscard]] const PictureBlocks* finalisedPicture(std::uint64_t pictureIdentity) const;
    void sortEvents();
    void readLocation(std::uint64_t location, ObserverEventRecord& record) const;
    // The store that holds a location, and the location's index in it.
    [[nodiscard]] const CompactEventStore& storeAt(std::uint64_t location, std::uint64_t& index) const;
    [[nodiscard]] std::uint64_t unsortedLocation(std::uint64_t index) const;
    // Calls visit(store, index in it) for the index-th event, under the locks it needs.
    template <typename Visit>
    void visitEventAt(std::uint64_t index, Visit visit) const;

    std::uint64_t blockEventCapacity_ = 0;
    std::uint64_t targetPictureIdentity_ = 0;
    ObserverCollectorLimits limits_;

    CompactEventStore streamEvents_;
    CompactEventStore::AppendCache streamAppendCache_;
    // Shared by every picture's blocks, so that their chunks come from a few large mappings.
    std::shared_ptr<ChunkArena> blockArena_ = std::make_shared<ChunkArena>();
    std::vector<PictureBlocks> pictures_;
    std::unordered_map<std::uint64_t, std::size_t> pictureIndex_;
    std::uint64_t keptBlockEvents_ = 0;
    std::uint64_t keptBlockBytes_ = 0;
    // Once a picture did not fit, no later picture starts keeping blocks: the pictures
    // with blocks stay the first ones in decode order.
    bool blockBudgetClosed_ = false;
    bool sawSps_ = false;
    std::uint64_t spsBlockEventLimit_ = 0;

    std::unique_ptr<ThreadSlot[]> slots_;
    std::uint64_t serial_ = 0;
    std::vector<std::uint64_t> sortedOrder_;
    std::vector<std::uint64_t> streamEventPositions_;
    std::array<std::uint64_t, 4> keptBlocksByKind_{};
    std::uint64_t keptMotionVectors_ = 0;
    // Each picture's block locations in the builder's order, by picture.
    std::vector<std::vector<std::uint64_t>> sortedBlocksByPicture_;
    // Made by spillPicturesInto; used under blockMutex_ while decoding, alone once finalised.
    std::unique_ptr<BlockSpill> spill_;
    std::uint64_t spilledBlockEvents_ = 0;
    // The slice headers of each spilled picture and their NAL units, which give its blocks
    // their places, by picture.
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> placingEventsByPicture_;

    std::atomic<std::uint64_t> droppedCount_{0};
    std::atomic<bool> failed_{false};
    std::atomic<bool> targetPictureOutput_{false};
    std::atomic<std::uint32_t> fatalLine_{0};
    std::thread::id ownerThread_;
    AVCodecContext* attachedContext_ = nullptr;

    mutable std::mutex streamMutex_;
    mutable std::mutex blockMutex_;
    std::mutex slotsMutex_;
    // Set once, last thing under every mutex; readers then need no lock.
    std::atomic<bool> finalized_{false};

    // Spilled pictures being read back ahead of their turn, by picture identity and kind.
    // Last, so that the reads end before anything they use goes.
    using ReadAheadKey = std::pair<std::uint64_t, std::uint32_t>;
    mutable std::mutex readAheadMutex_;
    mutable std::map<ReadAheadKey, std::future<SpilledBlocks>> readAhead_;
    // Gone first, handing what it still holds to the collector.
    std::unique_ptr<ObserverEventRelay> relay_;
};

}  // namespace vexilo::analyzer
