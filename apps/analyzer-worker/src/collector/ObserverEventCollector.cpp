#include "collector/ObserverEventCollector.h"

#include "collector/EventOrder.h"

#include "vexilo/analysis/records/CodingBlockRecords.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <functional>
#include <span>
#include <stdexcept>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace vexilo::analyzer {
namespace {

constexpr char kEventIndexOutOfRange[] = "Analyzer observer event index is out of range";
// CTU, CU, PU and TU events all hold their picture identity at this offset.
constexpr std::size_t kBlockPictureIdentityOffset = offsetof(VexiloObserverCuEvent, pictureIdentity);
constexpr std::size_t kBlockPictureIdentityEnd = kBlockPictureIdentityOffset + sizeof(std::uint64_t);
static_assert(offsetof(VexiloObserverCtuEvent, pictureIdentity) == kBlockPictureIdentityOffset &&
              offsetof(VexiloObserverPuEvent, pictureIdentity) == kBlockPictureIdentityOffset &&
              offsetof(VexiloObserverTuEvent, pictureIdentity) == kBlockPictureIdentityOffset);

// Event locations: which store (0 = stream events, k = the k-th picture's blocks) and the
// record's index in it.
constexpr unsigned kStoreShift = 40;
constexpr std::uint64_t kIndexMask = (std::uint64_t{1} << kStoreShift) - 1;

// Without an SPS the largest picture H.265 allows (level 6.2: 8192x4320) bounds a target
// picture, with 16x16 CTBs, 8x8 coding blocks and 4x4 transform blocks.
constexpr std::uint32_t kLargestPictureWidth = 8192;
constexpr std::uint32_t kLargestPictureHeight = 4320;
constexpr std::uint32_t kSmallestLog2CtbSize = 4;
constexpr std::uint32_t kSmallestLog2CbSize = 3;
constexpr std::uint32_t kSmallestLog2TbSize = 2;
constexpr std::uint32_t kLargestLog2CtbSize = 6;
constexpr std::uint64_t kPredictionBlocksPerCodingBlock = 4;

// A small process-wide number per thread; slots are keyed by it.
std::uint32_t callingThreadNumber() noexcept
{
    static std::atomic<std::uint32_t> nextNumber{1};
    thread_local const std::uint32_t number = nextNumber.fetch_add(1);
    return number;
}

std::uint64_t nextCollectorSerial() noexcept
{
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1);
}

// Nodes of full quadtrees from blocks of 2^log2Top down to 2^log2Leaf over `area` samples.
std::uint64_t quadtreeNodes(std::uint64_t area, std::uint32_t log2Top, std::uint32_t log2Leaf) noexcept
{
    std::uint64_t nodes = 0;
    for (std::uint32_t log2Size = log2Leaf; log2Size <= log2Top; ++log2Size) {
        nodes += area >> (2 * log2Size);
    }
    return nodes;
}

std::uint32_t blockKindSlot(std::uint32_t kind) noexcept
{
    return kind - VEXILO_OBSERVER_EVENT_CTU;
}

std::uint64_t motionVectorsOf(const VexiloObserverPuEvent& pu) noexcept
{
    return std::uint64_t{(pu.presentMaskB & VEXILO_OBSERVER_PU_B_MV_L0) != 0} +
           std::uint64_t{(pu.presentMaskB & VEXILO_OBSERVER_PU_B_MV_L1) != 0};
}

}  // namespace

struct ObserverEventCollector::ThreadSlot {
    std::uint32_t threadId = 0;
    bool inUse = false;
    bool batchActive = false;
    std::uint64_t lastNalIdentity = 0;
    std::uint64_t batchPictureIdentity = 0;
    std::uint32_t batchCtuAddress = 0;
    std::uint64_t batchCount = 0;
    // The blocks of the open batch, encoded, and how many of each block kind it holds.
    CompactEventStore::Batch staged;
    std::array<std::uint64_t, 4> stagedKinds{};
    std::uint64_t stagedMotionVectors = 0;
    // Where this thread's blocks went last, checked against the picture's identity.
    std::size_t lastPicture = 0;
    // Made on the thread's first block: most threads of a run bring none.
    std::unique_ptr<CompactEventStore::AppendCache> appendCache;

    [[nodiscard]] bool batchBelongsTo(const ObserverEventRecord& record) const noexcept
    {
        return batchPictureIdentity == record.pictureIdentity && batchCtuAddress == record.ctuAddress;
    }
};

struct ObserverEventCollector::PictureBlocks {
    PictureBlocks(std::uint64_t identity, std::shared_ptr<ChunkArena> arena)
        : pictureIdentity(identity), events(std::move(arena))
    {
    }

    std::uint64_t pictureIdentity = 0;
    CompactEventStore events;
    // CTUs, CUs, PUs and TUs the picture brought, kept or not, and those it keeps.
    std::array<std::uint64_t, 4> received{};
    std::array<std::uint64_t, 4> kept{};
    // The motion vectors of the kept PUs, one per list a PU predicts from.
    std::uint64_t keptMotionVectors = 0;
    std::uint64_t droppedEvents = 0;
    // What the kept blocks count against the budget: their storage and their document.
    std::uint64_t chargedBytes = 0;
    // Kept blocks whose storage went back once they were read.
    std::uint64_t releasedEvents = 0;
    // Kept blocks that wait in the spill file, and where.
    std::uint64_t spilledEvents = 0;
    BlockSpill::Place spillPlace;
    bool lost = false;
};

std::uint64_t physicalMemoryBytes() noexcept
{
#if defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    return GlobalMemoryStatusEx(&status) != 0 ? status.ullTotalPhys : 0;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
#endif
}

int usableCores() noexcept
{
#if defined(_WIN32)
    return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1U));
#else
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) != 0) {
        return 1;
    }
    return std::max(CPU_COUNT(&cores), 1);
#endif
}

std::uint64_t defaultBlockBudgetBytes(std::uint64_t physicalMemory) noexcept
{
    if (physicalMemory == 0) {
        return kMaxBlockBudgetBytes;
    }
    return std::min(physicalMemory / 4, kMaxBlockBudgetBytes);
}

std::uint64_t documentBytesOfBlocks(const std::array<std::uint64_t, 4>& blocksByKind) noexcept
{
    // Identity tables of the builder and the validator and the cache writer's placement of
    // each object, per object.
    constexpr std::uint64_t kTableBytesPerObject = 64;
    constexpr std::uint64_t kMotionVectorsPerPu = 2;
    constexpr std::array<std::uint64_t, 4> kBytesPerBlock{
        sizeof(analysis::CtuInfo) + kTableBytesPerObject,
        sizeof(analysis::CuInfo) + kTableBytesPerObject,
        sizeof(analysis::PuInfo) + kTableBytesPerObject +
            kMotionVectorsPerPu * (sizeof(analysis::MotionVectorInfo) + kTableBytesPerObject),
        sizeof(analysis::TuInfo) + kTableBytesPerObject,
    };
    std::uint64_t bytes = 0;
    for (std::size_t kind = 0; kind < blocksByKind.size(); ++kind) {
        bytes += blocksByKind[kind] * kBytesPerBlock[kind];
    }
    return bytes;
}

std::uint64_t maxBlockEventsPerPicture(const VexiloObserverParameterSetEvent& sps) noexcept
{
    const std::uint32_t width = sps.width != 0 ? sps.width : kLargestPictureWidth;
    const std::uint32_t height = sps.height != 0 ? sps.height : kLargestPictureHeight;
    const std::uint32_t log2Ctb = std::clamp(sps.log2CtuSize, kSmallestLog2CtbSize, kLargestLog2CtbSize);
    const std::uint32_t log2Cb = std::clamp(sps.log2MinLumaCodingBlockSize, kSmallestLog2CbSize, log2Ctb);
    const std::uint32_t log2Tb = std::clamp(sps.log2MinLumaTransformBlockSize, kSmallestLog2TbSize, log2Cb);
    const std::uint64_t ctbSize = std::uint64_t{1} << log2Ctb;
    const std::uint64_t ctbColumns = (std::uint64_t{width} + ctbSize - 1) / ctbSize;
    const std::uint64_t ctbRows = (std::uint64_t{height} + ctbSize - 1) / ctbSize;
    const std::uint64_t area = ctbColumns * ctbRows * ctbSize * ctbSize;
    const std::uint64_t leafCodingBlocks = area >> (2 * log2Cb);
    return ctbColumns * ctbRows + quadtreeNodes(area, log2Ctb, log2Cb) +
           kPredictionBlocksPerCodingBlock * leafCodingBlocks + quadtreeNodes(area, log2Ctb, log2Tb);
}

ObserverEventCollector::ObserverEventCollector(std::uint64_t blockEventCapacity, std::uint64_t targetPictureIdentity,
                                               ObserverCollectorLimits limits)
    : blockEventCapacity_(blockEventCapacity),
      targetPictureIdentity_(targetPictureIdentity),
      limits_(limits),
      spsBlockEventLimit_(maxBlockEventsPerPicture(VexiloObserverParameterSetEvent{})),
      slots_(std::make_unique<ThreadSlot[]>(limits.threadSlotCount)),
      serial_(nextCollectorSerial()),
      ownerThread_(std::this_thread::get_id())
{
}

ObserverEventCollector::~ObserverEventCollector()
{
    if (attachedContext_ != nullptr) {
        av_vexilo_clear_observer(attachedContext_);
        attachedContext_ = nullptr;
    }
    try {
        finalize();
    } catch (...) {
        // Nothing reads the events any more; an allocation failure while sorting is moot.
    }
}

int ObserverEventCollector::attach(AVCodecContext* context, std::uint64_t eventMask)
{
    if (context == nullptr || attachedContext_ != nullptr || std::this_thread::get_id() != ownerThread_) {
        return VEXILO_OBSERVER_RESULT_INVALID_ARGUMENT;
    }
    VexiloObserverRegistration registration{};
    registration.size = VEXILO_OBSERVER_REGISTRATION_SIZE;
    registration.abiVersion = VEXILO_OBSERVER_ABI_VERSION;
    registration.eventMask = eventMask;
    registration.callback = &observerCallback;
    // The callback casts back to the sink, so the sink's address is what it must be given.
    registration.opaque = relay_ ? static_cast<ObserverEventSink*>(relay_.get()) : static_cast<ObserverEventSink*>(this);
    const int result = av_vexilo_set_observer(context, &registration);
    if (result >= 0) {
        attachedContext_ = context;
    }
    return result;
}

int ObserverEventCollector::detach()
{
    int result = 0;
    if (attachedContext_ != nullptr) {
        AVCodecContext* context = attachedContext_;
        attachedContext_ = nullptr;
        result = av_vexilo_clear_observer(context);
    }
    // The events still on their way are the collector's before it is finalised.
    relay_.reset();
    finalize();
    return result;
}

void ObserverEventCollector::keepEventsOnOwnThread()
{
    if (targetPictureIdentity_ == 0 && attachedContext_ == nullptr && !relay_) {
        relay_ = std::make_unique<ObserverEventRelay>(*this);
    }
}

void ObserverEventCollector::countDropped(std::uint64_t events) noexcept
{
    if (events != 0) {
        droppedCount_.fetch_add(events);
    }
}

int ObserverEventCollector::fail(std::uint32_t line, std::uint64_t droppedEvents)
{
    countDropped(droppedEvents);
    std::uint32_t none = 0;
    fatalLine_.compare_exchange_strong(none, line);
    failed_.store(true);
    return VEXILO_OBSERVER_RESULT_FATAL;
}

ObserverEventCollector::ThreadSlot* ObserverEventCollector::slotOfCallingThread()
{
    // A slot stays with its thread for the collector's life, so each thread remembers its
    // slot and takes the lock only the first time; collectors are told apart by a serial
    // number, never by an address a later collector may reuse.
    struct RememberedSlot {
        std::uint64_t collectorSerial = 0;
        ThreadSlot* slot = nullptr;
    };
    thread_local RememberedSlot remembered;
    if (remembered.collectorSerial == serial_) {
        return remembered.slot;
    }
    const std::uint32_t thread = callingThreadNumber();
    const std::lock_guard lock(slotsMutex_);
    ThreadSlot* firstFree = nullptr;
    for (std::uint32_t i = 0; i < limits_.threadSlotCount; ++i) {
        ThreadSlot& slot = slots_[i];
        if (slot.inUse && slot.threadId == thread) {
            return &slot;
        }
        if (!slot.inUse && firstFree == nullptr) {
            firstFree = &slot;
        }
    }
    if (firstFree != nullptr) {
        firstFree->inUse = true;
        firstFree->threadId = thread;
        remembered = RememberedSlot{serial_, firstFree};
    }
    return firstFree;
}

int ObserverEventCollector::onEvent(const VexiloObserverEventHeader* event)
{
    if (!isValidObserverEventHeader(event)) {
        return fail(kFatalLineBadHeader, 1);
    }
    if (isBlockEventOfAnotherPicture(*event)) {
        // Most block events of a "picture_structure" run belong to other pictures: they are
        // passed over before the copying and checking that kept ones need.
        if (slotOfCallingThread() == nullptr) {
            countDropped(1);
        }
        return VEXILO_OBSERVER_RESULT_OK;
    }
    // Reused: the intake writes only what each event's kind uses.
    thread_local ObserverEventRecord record;
    if (!normalizeObserverEvent(*event, record)) {
        return fail(kFatalLineShortEvent, 1);
    }
    fixUpObserverEvent(record);

    if (isNalGroupEventKind(record.kind)) {
        ThreadSlot* slot = slotOfCallingThread();
        if (slot == nullptr) {
            countDropped(1);
            return VEXILO_OBSERVER_RESULT_OK;
        }
        if (record.kind == VEXILO_OBSERVER_EVENT_NAL_UNIT) {
            slot->lastNalIdentity = record.nalIdentity;
        } else if (record.nalIdentity == 0) {
            record.nalIdentity = slot->lastNalIdentity;
        }
    }
    if (!isBlockEventKind(record.kind)) {
        noteTargetPictureOutput(record);
        noteParameterSet(record);
        const int result = appendStreamEvent(record);
        if (record.kind == VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT && spill_) {
            // Events come in the order the decoder was fed: every block of a picture it has put
            // out is in.
            spillPicture(record.pictureIdentity);
        }
        return result;
    }

    ThreadSlot* slot = slotOfCallingThread();
    if (slot == nullptr || record.pictureIdentity == 0) {
        dropBlocksOf(record.pictureIdentity, 1);
        return VEXILO_OBSERVER_RESULT_OK;
    }
    if (targetPictureIdentity_ != 0 && record.pictureIdentity != targetPictureIdentity_) {
        return VEXILO_OBSERVER_RESULT_OK;
    }
    if (record.kind == VEXILO_OBSERVER_EVENT_CTU) {
        return commitCtu(*slot, record);
    }
    return stageBlockEvent(*slot, record);
}

bool ObserverEventCollector::isBlockEventOfAnotherPicture(const VexiloObserverEventHeader& event) const noexcept
{
    if (targetPictureIdentity_ == 0 || !isBlockEventKind(event.kind) || event.size < kBlockPictureIdentityEnd) {
        return false;
    }
    std::uint64_t pictureIdentity = 0;
    std::memcpy(&pictureIdentity, reinterpret_cast<const std::byte*>(&event) + kBlockPictureIdentityOffset,
                sizeof pictureIdentity);
    return pictureIdentity != 0 && pictureIdentity != targetPictureIdentity_;
}

void ObserverEventCollector::noteTargetPictureOutput(const ObserverEventRecord& record) noexcept
{
    if (record.kind == VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT && targetPictureIdentity_ != 0 &&
        record.pictureIdentity == targetPictureIdentity_) {
        targetPictureOutput_.store(true);
    }
}

void ObserverEventCollector::noteParameterSet(const ObserverEventRecord& record)
{
    if (record.kind != VEXILO_OBSERVER_EVENT_SPS) {
        return;
    }
    // The target picture may use any SPS seen so far; the largest bound covers each.
    const std::uint64_t limit = maxBlockEventsPerPicture(record.payload.parameterSet);
    const std::lock_guard lock(blockMutex_);
    if (!sawSps_) {
        sawSps_ = true;
        spsBlockEventLimit_ = limit;
    } else {
        spsBlockEventLimit_ = std::max(spsBlockEventLimit_, limit);
    }
}

int ObserverEventCollector::appendStreamEvent(const ObserverEventRecord& record)
{
    const std::lock_guard lock(streamMutex_);
    streamEvents_.append(record, streamAppendCache_);
    return VEXILO_OBSERVER_RESULT_OK;
}

void ObserverEventCollector::spillPicturesInto(const std::filesystem::path& directory)
{
    if (targetPictureIdentity_ == 0 && attachedContext_ == nullptr && pictures_.empty()) {
        spill_ = std::make_unique<BlockSpill>(directory);
        // A picture's blocks go to disk as soon as it is put out and come back one picture at a
        // time: each store fills the pages the one before emptied, which handed back to the
        // system would have to be found and cleared again for every picture.
        blockArena_ = std::make_shared<ChunkArena>(ChunkArena::systemMemoryCalls(), ChunkArena::EmptyRegions::Stay);
    }
}

void ObserverEventCollector::spillPicture(std::uint64_t pictureIdentity)
{
    thread_local std::vector<std::uint32_t> image;
    const std::lock_guard lock(blockMutex_);
    const auto found = pictureIndex_.find(pictureIdentity);
    if (found == pictureIndex_.end()) {
        return;
    }
    PictureBlocks& blocks = pictures_[found->second];
    if (blocks.lost || blocks.spilledEvents != 0 || blocks.events.size() == 0) {
        return;
    }
    image.clear();
    blocks.events.saveImage(image);
    const std::optional<BlockSpill::Place> place = spill_->write(image);
    if (!place) {
        return;
    }
    blocks.spillPlace = *place;
    blocks.spilledEvents = blocks.events.size();
    spilledBlockEvents_ += blocks.spilledEvents;
    blocks.events.clear();
}

std::uint64_t ObserverEventCollector::storedEvents(const PictureBlocks& picture) noexcept
{
    return picture.events.size() + picture.spilledEvents;
}

void ObserverEventCollector::abandonBatch(ThreadSlot& slot)
{
    if (slot.batchActive && slot.batchCount != 0) {
        // Blocks that never met their CTU leave their picture incomplete.
        const std::lock_guard lock(blockMutex_);
        dropStagedBlocks(slot, pictureOf(slot, slot.batchPictureIdentity), CloseBudget::No);
    }
    slot.batchActive = false;
    slot.batchCount = 0;
}

void ObserverEventCollector::openBatchFor(ThreadSlot& slot, const ObserverEventRecord& record)
{
    if (slot.batchActive && !slot.batchBelongsTo(record)) {
        abandonBatch(slot);
    }
    if (!slot.batchActive) {
        slot.batchActive = true;
        slot.batchPictureIdentity = record.pictureIdentity;
        slot.batchCtuAddress = record.ctuAddress;
        slot.batchCount = 0;
    }
}

int ObserverEventCollector::stageBlockEvent(ThreadSlot& slot, const ObserverEventRecord& record)
{
    const bool unplaced = cuIdentityOf(record) == 0 || record.bounds.width == 0 || record.bounds.height == 0;
    const bool badPart = record.kind == VEXILO_OBSERVER_EVENT_PU &&
                         record.payload.pu.partIndex > VEXILO_OBSERVER_PU_MAX_PART_INDEX;
    const bool missingTu = record.kind == VEXILO_OBSERVER_EVENT_TU && tuIdentityOf(record) == 0;
    if (unplaced || badPart || missingTu) {
        dropBlocksOf(record.pictureIdentity, 1);
        return VEXILO_OBSERVER_RESULT_OK;
    }
    openBatchFor(slot, record);
    if (slot.batchCount >= limits_.stagedRecordsPerSlot) {
        abandonBatch(slot);
        dropBlocksOf(record.pictureIdentity, 1);
        return VEXILO_OBSERVER_RESULT_OK;
    }
    ++slot.batchCount;
    stage(slot, record);
    return VEXILO_OBSERVER_RESULT_OK;
}

int ObserverEventCollector::commitCtu(ThreadSlot& slot, const ObserverEventRecord& ctu)
{
    openBatchFor(slot, ctu);
    if (ctu.bounds.width == 0 || ctu.bounds.height == 0) {
        // The blocks of a CTU that cannot be placed are lost with it, and so is the rest
        // of its picture.
        abandonBatch(slot);
        dropBlocksOf(ctu.pictureIdentity, 1);
        return VEXILO_OBSERVER_RESULT_OK;
    }
    stage(slot, ctu);
    keepBatch(slot);
    slot.batchActive = false;
    slot.batchCount = 0;
    return VEXILO_OBSERVER_RESULT_OK;
}

// Each thread encodes its blocks as they come, against bases of its own in the picture's
// store (keyed by the picture, whose store is only ever cleared when it stops taking
// blocks), and the CTU that closes their batch appends them under one lock. The sort puts
// every block in its place once the stream is over.
void ObserverEventCollector::stage(ThreadSlot& slot, const ObserverEventRecord& record)
{
    if (!slot.appendCache) {
        slot.appendCache = std::make_unique<CompactEventStore::AppendCache>();
    }
    CompactEventStore::encode(record, *slot.appendCache, record.pictureIdentity, slot.staged);
    ++slot.stagedKinds[blockKindSlot(record.kind)];
    if (record.kind == VEXILO_OBSERVER_EVENT_PU) {
        slot.stagedMotionVectors += motionVectorsOf(record.payload.pu);
    }
}

void ObserverEventCollector::keepBatch(ThreadSlot& slot)
{
    const std::lock_guard lock(blockMutex_);
    PictureBlocks& blocks = pictureOf(slot, slot.batchPictureIdentity);
    // Blocks after the picture was put out cannot be whole with the ones spilled before.
    if (blocks.lost || blocks.spilledEvents != 0) {
        dropStagedBlocks(slot, blocks, CloseBudget::No);
        return;
    }
    if (!fits(blocks, slot.staged.size())) {
        dropStagedBlocks(slot, blocks, CloseBudget::Yes);
        return;
    }
    const std::uint64_t documentBytes = documentBytesOfBlocks(slot.stagedKinds);
    for (std::size_t kind = 0; kind < slot.stagedKinds.size(); ++kind) {
        blocks.kept[kind] += slot.stagedKinds[kind];
    }
    blocks.keptMotionVectors += slot.stagedMotionVectors;
    countReceived(slot, blocks);
    const std::uint64_t events = slot.staged.size();
    const std::uint64_t bytesBefore = blocks.events.bytesUsed();
    blocks.events.append(slot.staged, *slot.appendCache);
    keptBlockEvents_ += events;
    // The document the blocks become outweighs their compact storage several times over;
    // a budget of storage alone would let the run's peak grow far beyond it.
    const std::uint64_t charge = blocks.events.bytesUsed() - bytesBefore + documentBytes;
    blocks.chargedBytes += charge;
    keptBlockBytes_ += charge;
    if (targetPictureIdentity_ == 0 && blocks.chargedBytes > limits_.blockBudgetBytes) {
        // Over the budget by itself: this picture cannot be whole, so it keeps nothing; the
        // pictures after it are made one at a time, as it would have been.
        dropPictureBlocks(blocks, 0, CloseBudget::No);
    }
}

void ObserverEventCollector::countReceived(ThreadSlot& slot, PictureBlocks& blocks) noexcept
{
    for (std::size_t kind = 0; kind < slot.stagedKinds.size(); ++kind) {
        blocks.received[kind] += slot.stagedKinds[kind];
    }
    slot.stagedKinds = {};
    slot.stagedMotionVectors = 0;
}

void ObserverEventCollector::dropStagedBlocks(ThreadSlot& slot, PictureBlocks& blocks, CloseBudget closeBudget)
{
    countReceived(slot, blocks);
    dropPictureBlocks(blocks, slot.staged.size(), closeBudget);
    if (slot.appendCache) {
        CompactEventStore::discard(slot.staged, *slot.appendCache);
    }
}

ObserverEventCollector::PictureBlocks& ObserverEventCollector::pictureOf(ThreadSlot& slot,
                                                                         std::uint64_t pictureIdentity)
{
    if (slot.lastPicture < pictures_.size() && pictures_[slot.lastPicture].pictureIdentity == pictureIdentity) {
        return pictures_[slot.lastPicture];
    }
    PictureBlocks& blocks = picture(pictureIdentity);
    slot.lastPicture = static_cast<std::size_t>(&blocks - pictures_.data());
    return blocks;
}

ObserverEventCollector::PictureBlocks& ObserverEventCollector::picture(std::uint64_t pictureIdentity)
{
    const auto [found, inserted] = pictureIndex_.try_emplace(pictureIdentity, pictures_.size());
    if (inserted) {
        PictureBlocks& blocks = pictures_.emplace_back(pictureIdentity, blockArena_);
        // A picture that starts after the budget ran out keeps nothing, so that the pictures
        // with blocks stay the first ones in decode order.
        blocks.lost = blockBudgetClosed_;
    }
    return pictures_[found->second];
}

bool ObserverEventCollector::fits(const PictureBlocks& blocks, std::uint64_t events) const noexcept
{
    if (targetPictureIdentity_ != 0) {
        return blocks.events.size() + events <= spsBlockEventLimit_;
    }
    return blockEventCapacity_ == kNoBlockEventBound || keptBlockEvents_ + events <= blockEventCapacity_;
}

void ObserverEventCollector::dropPictureBlocks(PictureBlocks& blocks, std::uint64_t pendingEvents,
                                               CloseBudget closeBudget)
{
    const std::uint64_t kept = storedEvents(blocks);
    countDropped(kept + pendingEvents);
    blocks.droppedEvents += kept + pendingEvents;
    keptBlockEvents_ -= kept;
    keptBlockBytes_ -= blocks.chargedBytes;
    blocks.chargedBytes = 0;
    blocks.kept = {};
    blocks.keptMotionVectors = 0;
    spilledBlockEvents_ -= blocks.spilledEvents;
    blocks.spilledEvents = 0;
    blocks.events.clear();
    blocks.lost = true;
    if (closeBudget == CloseBudget::Yes) {
        blockBudgetClosed_ = true;
    }
}

void ObserverEventCollector::dropBlocksOf(std::uint64_t pictureIdentity, std::uint64_t pendingEvents)
{
    if (pictureIdentity == 0) {
        countDropped(pendingEvents);
        return;
    }
    const std::lock_guard lock(blockMutex_);
    dropPictureBlocks(picture(pictureIdentity), pendingEvents, CloseBudget::No);
}

void ObserverEventCollector::closeOpenBatchesAtFinalize()
{
    for (std::uint32_t i = 0; i < limits_.threadSlotCount; ++i) {
        abandonBatch(slots_[i]);
    }
}

void ObserverEventCollector::finalize()
{
    const std::lock_guard slotsLock(slotsMutex_);
    if (finalized_.load()) {
        return;
    }
    closeOpenBatchesAtFinalize();
    const std::scoped_lock lock(streamMutex_, blockMutex_);
    sortedOrder_.clear();
    sortedOrder_.reserve(streamEvents_.size() + keptBlockEvents_ - spilledBlockEvents_);
    // Pictures' blocks first, in the order their pictures were first reported: they are nearly
    // all of the events and each picture's are nearly sorted, which the sort makes use of; the
    // few stream events are merged in.
    std::vector<std::uint64_t> pictureEventCounts;
    pictureEventCounts.reserve(pictures_.size());
    for (std::size_t p = 0; p < pictures_.size(); ++p) {
        const std::uint64_t store = std::uint64_t{p + 1} << kStoreShift;
        for (std::uint64_t i = 0; i < pictures_[p].events.size(); ++i) {
            sortedOrder_.push_back(store | i);
        }
        pictureEventCounts.push_back(pictures_[p].events.size());
    }
    for (std::uint64_t i = 0; i < streamEvents_.size(); ++i) {
        sortedOrder_.push_back(i);
    }
    // Pictures' stores hold block events only; NAL units and slice headers are stream events.
    const auto streamLocations = std::span<const std::uint64_t>(sortedOrder_).last(streamEvents_.size());
    sortObserverEventOrder(
        sortedOrder_, [this](std::uint64_t location, ObserverEventRecord& record) { readLocation(location, record); },
        streamLocations, pictureEventCounts);
    noteSortedStreamEvents();
    noteSortedBlocksByPicture();
    notePlacingEventsOfSpilledPictures();
    finalized_.store(true);
}

void ObserverEventCollector::noteSortedBlocksByPicture()
{
    sortedBlocksByPicture_.assign(pictures_.size(), {});
    for (std::size_t p = 0; p < pictures_.size(); ++p) {
        sortedBlocksByPicture_[p].reserve(pictures_[p].events.size());
    }
    for (const std::uint64_t location : sortedOrder_) {
        if (const std::uint64_t store = location >> kStoreShift; store != 0) {
            sortedBlocksByPicture_[store - 1].push_back(location);
        }
    }
}

void ObserverEventCollector::notePlacingEventsOfSpilledPictures()
{
    placingEventsByPicture_.clear();
    if (spilledBlockEvents_ == 0) {
        return;
    }
    std::unordered_map<std::uint64_t, std::uint64_t> nalUnits;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> sliceNalUnits;
    ObserverEventRecord record;
    for (std::uint64_t location = 0; location < streamEvents_.size(); ++location) {
        const std::uint32_t kind = streamEvents_.kindAt(location);
        if (kind != VEXILO_OBSERVER_EVENT_NAL_UNIT && kind != VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER) {
            continue;
        }
        streamEvents_.readInto(location, record);
        if (kind == VEXILO_OBSERVER_EVENT_NAL_UNIT) {
            nalUnits.try_emplace(record.nalIdentity, location);
            continue;
        }
        const auto found = pictureIndex_.find(record.pictureIdentity);
        if (found != pictureIndex_.end() && pictures_[found->second].spilledEvents != 0) {
            placingEventsByPicture_[record.pictureIdentity].push_back(location);
            sliceNalUnits.emplace_back(record.pictureIdentity, record.nalIdentity);
        }
    }
    for (const auto& [picture, nal] : sliceNalUnits) {
        if (const auto unit = nalUnits.find(nal); unit != nalUnits.end()) {
            placingEventsByPicture_[picture].push_back(unit->second);
        }
    }
}

bool ObserverEventCollector::readSpilledBlocks(const PictureBlocks& picture, CompactEventStore& blocks,
                                               std::vector<std::uint64_t>& order, std::uint32_t onlyKind) const
{
    thread_local std::vector<std::uint32_t> image;
    if (!spill_ || !spill_->read(picture.spillPlace, image) || !blocks.restore(image) ||
        blocks.size() != picture.spilledEvents) {
        return false;
    }
    // Store 1 is the spilled picture's while it is sorted, store 0 the stream's.
    constexpr std::uint64_t kSpilledStore = std::uint64_t{1} << kStoreShift;
    order.clear();
    order.reserve(blocks.size());
    // The blocks of one kind keep among themselves the order all of them have: a few thousand
    // CTUs are sorted instead of every block.
    for (std::uint64_t index = 0; index < blocks.size(); ++index) {
        if (onlyKind == 0 || blocks.kindAt(index) == onlyKind) {
            order.push_back(kSpilledStore | index);
        }
    }
    const std::uint64_t runLength = order.size();
    const auto placing = placingEventsByPicture_.find(picture.pictureIdentity);
    const std::size_t placingCount = placing != placingEventsByPicture_.end() ? placing->second.size() : 0;
    if (placingCount != 0) {
        order.insert(order.end(), placing->second.begin(), placing->second.end());
    }
    sortObserverEventOrder(
        order,
        [&](std::uint64_t location, ObserverEventRecord& record) {
            const CompactEventStore& store = (location >> kStoreShift) == 0 ? streamEvents_ : blocks;
            store.readInto(location & kIndexMask, record);
        },
        std::span<const std::uint64_t>(order).last(placingCount), std::span<const std::uint64_t>(&runLength, 1));
    std::erase_if(order, [](std::uint64_t location) { return (location >> kStoreShift) == 0; });
    return true;
}

const ObserverEventCollector::PictureBlocks* ObserverEventCollector::finalisedPicture(
    std::uint64_t pictureIdentity) const
{
    if (!finalized_.load()) {
        return nullptr;
    }
    const auto found = pictureIndex_.find(pictureIdentity);
    return found == pictureIndex_.end() ? nullptr : &pictures_[found->second];
}

PictureBlocksKept ObserverEventCollector::keptBlocksOf(std::uint64_t pictureIdentity) const
{
    const PictureBlocks* blocks = finalisedPicture(pictureIdentity);
    if (blocks == nullptr || blocks->lost) {
        return {};
    }
    return PictureBlocksKept{blocks->kept, blocks->keptMotionVectors};
}

void ObserverEventCollector::forEachBlockOf(std::uint64_t pictureIdentity,
                                            const std::function<void(const ObserverEventRecord&)>& visit,
                                            ObserverEventRecord& record, std::uint32_t onlyKind) const
{
    const PictureBlocks* blocks = finalisedPicture(pictureIdentity);
    if (blocks == nullptr) {
        return;
    }
    if (blocks->spilledEvents != 0) {
        const SpilledBlocks spilled = spilledBlocksOf(*blocks, onlyKind);
        for (const std::uint64_t location : spilled.order) {
            spilled.blocks.readInto(location & kIndexMask, record);
            visit(record);
        }
        return;
    }
    const std::size_t picture = static_cast<std::size_t>(blocks - pictures_.data());
    for (const std::uint64_t location : sortedBlocksByPicture_[picture]) {
        std::uint64_t index = 0;
        const CompactEventStore& events = storeAt(location, index);
        if (onlyKind != 0 && events.kindAt(index) != onlyKind) {
            continue;
        }
        events.readInto(index, record);
        visit(record);
    }
}

ObserverEventCollector::SpilledBlocks ObserverEventCollector::spilledBlocksOf(const PictureBlocks& picture,
                                                                            std::uint32_t onlyKind) const
{
    std::future<SpilledBlocks> ahead;
    {
        const std::lock_guard lock(readAheadMutex_);
        if (const auto found = readAhead_.find({picture.pictureIdentity, onlyKind}); found != readAhead_.end()) {
            ahead = std::move(found->second);
            readAhead_.erase(found);
        }
    }
    return ahead.valid() ? ahead.get() : readSpilledPicture(picture, onlyKind);
}

ObserverEventCollector::SpilledBlocks ObserverEventCollector::readSpilledPicture(const PictureBlocks& picture,
                                                                               std::uint32_t onlyKind) const
{
    SpilledBlocks spilled{CompactEventStore(blockArena_), {}};
    if (!readSpilledBlocks(picture, spilled.blocks, spilled.order, onlyKind)) {
        // Blocks that cannot be read back are left out, as a picture without them.
        spilled.order.clear();
    }
    return spilled;
}

void ObserverEventCollector::readBlocksAhead(std::uint64_t pictureIdentity, std::uint32_t onlyKind) const
{
    const PictureBlocks* blocks = finalisedPicture(pictureIdentity);
    if (blocks == nullptr || blocks->spilledEvents == 0 || usableCores() < 2) {
        return;
    }
    const std::lock_guard lock(readAheadMutex_);
    const ReadAheadKey key{pictureIdentity, onlyKind};
    if (readAhead_.contains(key)) {
        return;
    }
    try {
        readAhead_.emplace(key, std::async(std::launch::async,
                                           [this, blocks, onlyKind] { return readSpilledPicture(*blocks, onlyKind); }));
    } catch (const std::system_error&) {
        // Without a thread the picture is read when its turn comes.
    }
}

void ObserverEventCollector::releaseBlocksOf(std::uint64_t pictureIdentity)
{
    const PictureBlocks* found = finalisedPicture(pictureIdentity);
    if (found == nullptr) {
        return;
    }
    const std::size_t picture = static_cast<std::size_t>(found - pictures_.data());
    const std::lock_guard lock(blockMutex_);
    PictureBlocks& blocks = pictures_[picture];
    blocks.releasedEvents += blocks.events.size();
    blocks.events.clear();
    std::vector<std::uint64_t>().swap(sortedBlocksByPicture_[picture]);
}

const CompactEventStore& ObserverEventCollector::storeAt(std::uint64_t location, std::uint64_t& index) const
{
    const std::uint64_t store = location >> kStoreShift;
    index = location & kIndexMask;
    const CompactEventStore& events = store == 0 ? streamEvents_ : pictures_[store - 1].events;
    if (index >= events.size()) {
        throw std::out_of_range(kEventIndexOutOfRange);
    }
    return events;
}

void ObserverEventCollector::readLocation(std::uint64_t location, ObserverEventRecord& record) const
{
    std::uint64_t index = 0;
    const CompactEventStore& events = storeAt(location, index);
    events.readInto(index, record);
}

void ObserverEventCollector::noteSortedStreamEvents()
{
    streamEventPositions_.clear();
    streamEventPositions_.reserve(streamEvents_.size());
    for (std::uint64_t position = 0; position < sortedOrder_.size(); ++position) {
        if ((sortedOrder_[position] >> kStoreShift) == 0) {
            streamEventPositions_.push_back(position);
        }
    }
    keptBlocksByKind_ = {};
    keptMotionVectors_ = 0;
    for (const PictureBlocks& blocks : pictures_) {
        for (std::size_t kind = 0; kind < blocks.kept.size(); ++kind) {
            keptBlocksByKind_[kind] += blocks.kept[kind];
        }
        keptMotionVectors_ += blocks.keptMotionVectors;
    }
}

std::uint64_t ObserverEventCollector::eventCount() const
{
    if (finalized_.load()) {
        return sortedOrder_.size();
    }
    const std::scoped_lock lock(streamMutex_, blockMutex_);
    return streamEvents_.size() + keptBlockEvents_ - spilledBlockEvents_;
}

std::uint64_t ObserverEventCollector::unsortedLocation(std::uint64_t index) const
{
    if (index < streamEvents_.size()) {
        return index;
    }
    index -= streamEvents_.size();
    for (std::size_t p = 0; p < pictures_.size(); ++p) {
        if (index < pictures_[p].events.size()) {
            return (std::uint64_t{p + 1} << kStoreShift) | index;
        }
        index -= pictures_[p].events.size();
    }
    throw std::out_of_range(kEventIndexOutOfRange);
}

ObserverEventRecord ObserverEventCollector::eventAt(std::uint64_t index) const
{
    ObserverEventRecord record;
    readEventAt(index, record);
    return record;
}

template <typename Visit>
void ObserverEventCollector::visitEventAt(std::uint64_t index, Visit visit) const
{
    std::uint64_t indexInStore = 0;
    if (finalized_.load()) {
        if (index >= sortedOrder_.size()) {
            throw std::out_of_range(kEventIndexOutOfRange);
        }
        const CompactEventStore& events = storeAt(sortedOrder_[index], indexInStore);
        visit(events, indexInStore);
        return;
    }
    const std::scoped_lock lock(streamMutex_, blockMutex_);
    const CompactEventStore& events = storeAt(unsortedLocation(index), indexInStore);
    visit(events, indexInStore);
}

void ObserverEventCollector::readEventAt(std::uint64_t index, ObserverEventRecord& record) const
{
    visitEventAt(index, [&record](const CompactEventStore& events, std::uint64_t at) { events.readInto(at, record); });
}

std::uint32_t ObserverEventCollector::eventKindAt(std::uint64_t index) const
{
    std::uint32_t kind = 0;
    visitEventAt(index, [&kind](const CompactEventStore& events, std::uint64_t at) { kind = events.kindAt(at); });
    return kind;
}

std::uint64_t ObserverEventCollector::picturesWithBlocks() const
{
    const std::lock_guard lock(blockMutex_);
    return static_cast<std::uint64_t>(std::count_if(pictures_.begin(), pictures_.end(), [](const PictureBlocks& p) {
        return !p.lost && storedEvents(p) + p.releasedEvents != 0;
    }));
}

std::vector<PictureBlockLoss> ObserverEventCollector::picturesWithLostBlocks() const
{
    const std::lock_guard lock(blockMutex_);
    std::vector<PictureBlockLoss> losses;
    for (const PictureBlocks& blocks : pictures_) {
        if (blocks.lost) {
            losses.push_back(PictureBlockLoss{blocks.pictureIdentity, blocks.droppedEvents, blocks.received[0],
                                              blocks.received[1], blocks.received[2], blocks.received[3]});
        }
    }
    return losses;
}

std::uint64_t ObserverEventCollector::spilledEventCount() const
{
    const std::lock_guard lock(blockMutex_);
    return spilledBlockEvents_;
}

std::uint64_t ObserverEventCollector::blockStorageBytes() const
{
    const std::lock_guard lock(blockMutex_);
    return keptBlockBytes_;
}

std::string ObserverEventCollector::statisticsText() const
{
    return "capacity=" + std::to_string(blockEventCapacity_) +
           "; collected=" + std::to_string(eventCount() + spilledEventCount()) +
           "; dropped=" + std::to_string(droppedCount()) + "; fatalLine=" + std::to_string(fatalLine()) +
           "; picturesWithBlocks=" + std::to_string(picturesWithBlocks()) +
           "; picturesWithoutBlocks=" + std::to_string(picturesWithLostBlocks().size());
}

}  // namespace vexilo::analyzer
