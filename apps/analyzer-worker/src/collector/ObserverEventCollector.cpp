#include "collector/ObserverEventCollector.h"

#include "collector/EventOrder.h"
#include "observer/ObserverCallback.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vexilo::analyzer {
namespace {

constexpr char kEventIndexOutOfRange[] = "Analyzer observer event index is out of range";
constexpr char kCapacityBoundNote[] = ", bounded to half of the physical memory)";
constexpr std::uint64_t kTailReserve = 65536;
// CTU, CU, PU and TU events all hold their picture identity at this offset.
constexpr std::size_t kBlockPictureIdentityOffset = offsetof(VexiloObserverCuEvent, pictureIdentity);
constexpr std::size_t kBlockPictureIdentityEnd = kBlockPictureIdentityOffset + sizeof(std::uint64_t);
static_assert(offsetof(VexiloObserverCtuEvent, pictureIdentity) == kBlockPictureIdentityOffset &&
              offsetof(VexiloObserverPuEvent, pictureIdentity) == kBlockPictureIdentityOffset &&
              offsetof(VexiloObserverTuEvent, pictureIdentity) == kBlockPictureIdentityOffset);
constexpr std::uint64_t kSmallRingLimit = 2 * kTailReserve;

// A small process-wide number per thread; slots are keyed by it.
std::uint32_t callingThreadNumber() noexcept
{
    static std::atomic<std::uint32_t> nextNumber{1};
    thread_local const std::uint32_t number = nextNumber.fetch_add(1);
    return number;
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
    ObserverEventRecord* records = nullptr;

    [[nodiscard]] bool batchBelongsTo(const ObserverEventRecord& record) const noexcept
    {
        return batchPictureIdentity == record.pictureIdentity && batchCtuAddress == record.ctuAddress;
    }
};

// Records are plain data (an implicit-lifetime type), so the storage's allocation creates
// them and the first assignment gives them their values.
static_assert(std::is_trivially_copyable_v<ObserverEventRecord> && std::is_trivially_destructible_v<ObserverEventRecord>);

ObserverEventCollector::RecordStorage::RecordStorage(std::uint64_t count)
    : slots_(std::make_unique_for_overwrite<Slot[]>(count))
{
}

ObserverEventRecord* ObserverEventCollector::RecordStorage::get() const noexcept
{
    return std::launder(reinterpret_cast<ObserverEventRecord*>(slots_.get()));
}

std::uint64_t boundObserverEventCapacity(std::uint64_t requested, std::uint64_t physicalMemory) noexcept
{
    if (physicalMemory == 0) {
        return requested;
    }
    const std::uint64_t recordsInHalfOfMemory = physicalMemory / 2 / kObserverEventRecordSize;
    return std::min(requested, recordsInHalfOfMemory);
}

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

std::uint64_t observerTailLimit(std::uint64_t capacity) noexcept
{
    return capacity > kSmallRingLimit ? capacity - kTailReserve : capacity / 2;
}

ObserverEventCollector::ObserverEventCollector(std::uint64_t capacity, std::uint64_t targetPictureIdentity,
                                               ObserverCollectorLimits limits)
    : requestedCapacity_(capacity),
      capacity_(boundObserverEventCapacity(capacity, physicalMemoryBytes())),
      tailLimit_(observerTailLimit(capacity_)),
      targetPictureIdentity_(targetPictureIdentity),
      limits_(limits),
      ring_(capacity_),
      slots_(std::make_unique<ThreadSlot[]>(limits.threadSlotCount)),
      stagingRecords_(std::uint64_t{limits.threadSlotCount} * limits.stagedRecordsPerSlot),
      ownerThread_(std::this_thread::get_id())
{
    for (std::uint32_t i = 0; i < limits_.threadSlotCount; ++i) {
        slots_[i].records = stagingRecords_.get() + std::uint64_t{i} * limits_.stagedRecordsPerSlot;
    }
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
    registration.opaque = this;
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
    finalize();
    return result;
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
    ObserverEventRecord record;
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
        return appendFrontEvent(record);
    }

    ThreadSlot* slot = slotOfCallingThread();
    if (slot == nullptr || record.pictureIdentity == 0) {
        countDropped(1);
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

int ObserverEventCollector::appendFrontEvent(const ObserverEventRecord& record)
{
    {
        const std::lock_guard lock(ringMutex_);
        if (frontCount_ + tailCount_ < capacity_) {
            ring_[frontCount_] = record;
            ++frontCount_;
            return VEXILO_OBSERVER_RESULT_OK;
        }
    }
    // A full ring makes the document partial, not the analysis a failure: the
    // pipeline gives up the observer at the first drop and keeps decoding.
    countDropped(1);
    return VEXILO_OBSERVER_RESULT_OK;
}

void ObserverEventCollector::abandonBatch(ThreadSlot& slot) noexcept
{
    slot.batchActive = false;
    slot.batchCount = 0;
}

int ObserverEventCollector::stageBlockEvent(ThreadSlot& slot, const ObserverEventRecord& record)
{
    if (cuIdentityOf(record) == 0 || record.bounds.width == 0 || record.bounds.height == 0) {
        countDropped(1);
        return VEXILO_OBSERVER_RESULT_OK;
    }
    const bool badPart = record.kind == VEXILO_OBSERVER_EVENT_PU &&
                         record.payload.pu.partIndex > VEXILO_OBSERVER_PU_MAX_PART_INDEX;
    const bool missingTu = record.kind == VEXILO_OBSERVER_EVENT_TU && tuIdentityOf(record) == 0;
    if (badPart || missingTu) {
        countDropped(1);
        return VEXILO_OBSERVER_RESULT_OK;
    }
    if (slot.batchActive && !slot.batchBelongsTo(record)) {
        countDropped(slot.batchCount);
        abandonBatch(slot);
    }
    if (!slot.batchActive) {
        slot.batchActive = true;
        slot.batchPictureIdentity = record.pictureIdentity;
        slot.batchCtuAddress = record.ctuAddress;
        slot.batchCount = 0;
    }
    if (slot.batchCount < limits_.stagedRecordsPerSlot) {
        slot.records[slot.batchCount] = record;
        ++slot.batchCount;
        return VEXILO_OBSERVER_RESULT_OK;
    }
    return fail(kFatalLineStagingFull, 1);
}

int ObserverEventCollector::commitCtu(ThreadSlot& slot, const ObserverEventRecord& ctu)
{
    if (ctu.bounds.width == 0 || ctu.bounds.height == 0) {
        // The blocks of a CTU that cannot be placed are lost with it.
        countDropped((slot.batchActive ? slot.batchCount : 0) + 1);
        abandonBatch(slot);
        return VEXILO_OBSERVER_RESULT_OK;
    }
    if (slot.batchActive && !slot.batchBelongsTo(ctu)) {
        countDropped(slot.batchCount);
        abandonBatch(slot);
    }
    const std::uint64_t staged = slot.batchActive ? slot.batchCount : 0;
    const std::uint64_t needed = staged + 1;
    {
        const std::lock_guard lock(ringMutex_);
        if (tailCount_ + needed <= tailLimit_ && frontCount_ + tailCount_ + needed <= capacity_) {
            const std::uint64_t first = capacity_ - tailCount_ - needed;
            ring_[first] = ctu;
            std::copy_n(slot.records, staged, ring_.get() + first + 1);
            tailCount_ += needed;
            abandonBatch(slot);
            return VEXILO_OBSERVER_RESULT_OK;
        }
    }
    // An exhausted tail area is a partial document, like a full ring.
    countDropped(needed);
    abandonBatch(slot);
    return VEXILO_OBSERVER_RESULT_OK;
}

void ObserverEventCollector::closeOpenBatchesAtFinalize()
{
    for (std::uint32_t i = 0; i < limits_.threadSlotCount; ++i) {
        ThreadSlot& slot = slots_[i];
        if (slot.batchActive) {
            fail(kFatalLineOpenBatchAtFinalize, slot.batchCount);
            abandonBatch(slot);
        }
    }
}

void ObserverEventCollector::finalize()
{
    const std::scoped_lock lock(ringMutex_, slotsMutex_);
    if (finalized_.load()) {
        return;
    }
    closeOpenBatchesAtFinalize();
    // The tail area follows the front area, keeping its order.
    sortedOrder_.clear();
    sortedOrder_.reserve(frontCount_ + tailCount_);
    for (std::uint64_t i = 0; i < frontCount_; ++i) {
        sortedOrder_.push_back(i);
    }
    for (std::uint64_t i = capacity_ - tailCount_; i < capacity_; ++i) {
        sortedOrder_.push_back(i);
    }
    frontCount_ += tailCount_;
    tailCount_ = 0;
    sortObserverEventOrder(ring_.get(), sortedOrder_);
    finalized_.store(true);
}

std::uint64_t ObserverEventCollector::eventCount() const
{
    if (finalized_.load()) {
        return sortedOrder_.size();
    }
    const std::lock_guard lock(ringMutex_);
    return frontCount_ + tailCount_;
}

std::uint64_t ObserverEventCollector::physicalIndexOf(std::uint64_t index) const noexcept
{
    if (finalized_.load()) {
        return sortedOrder_[index];
    }
    return index < frontCount_ ? index : capacity_ - tailCount_ - frontCount_ + index;
}

const ObserverEventRecord& ObserverEventCollector::eventAt(std::uint64_t index) const
{
    if (finalized_.load()) {
        if (index >= sortedOrder_.size()) {
            throw std::out_of_range(kEventIndexOutOfRange);
        }
        return ring_[sortedOrder_[index]];
    }
    const std::lock_guard lock(ringMutex_);
    if (index >= frontCount_ + tailCount_) {
        throw std::out_of_range(kEventIndexOutOfRange);
    }
    return ring_[physicalIndexOf(index)];
}

std::string ObserverEventCollector::statisticsText() const
{
    std::string capacityText = std::to_string(capacity_);
    if (capacity_ < requestedCapacity_) {
        capacityText += " (requested " + std::to_string(requestedCapacity_) + kCapacityBoundNote;
    }
    return "capacity=" + capacityText + "; collected=" + std::to_string(eventCount()) +
           "; dropped=" + std::to_string(droppedCount()) + "; fatalLine=" + std::to_string(fatalLine());
}

}  // namespace vexilo::analyzer
