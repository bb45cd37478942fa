#pragma once

#include "observer/ObserverEventRecord.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AVCodecContext;

namespace vexilo::analyzer {

// Fatal lines of the collector; the first one recorded wins.
inline constexpr std::uint32_t kFatalLineBadHeader = 906;
inline constexpr std::uint32_t kFatalLineShortEvent = 911;
inline constexpr std::uint32_t kFatalLineStagingFull = 857;
inline constexpr std::uint32_t kFatalLineOpenBatchAtFinalize = 957;

inline constexpr std::uint64_t kDefaultObserverEventCapacity = 0x10000;
inline constexpr std::uint64_t kMaxObserverEventCapacity = 0x1000000;

// Per-thread staging; the defaults are what the worker runs with, smaller values only
// serve tests and the fuzzer.
struct ObserverCollectorLimits {
    std::uint32_t threadSlotCount = 64;
    std::uint32_t stagedRecordsPerSlot = 1024;
};

// The most records a ring may hold so that it fits in half of the physical memory
// (`physicalMemoryBytes` 0 = unknown, no bound).
[[nodiscard]] std::uint64_t boundObserverEventCapacity(std::uint64_t requested,
                                                       std::uint64_t physicalMemoryBytes) noexcept;
[[nodiscard]] std::uint64_t physicalMemoryBytes() noexcept;

// The reserve of the ring's tail area for block events: what stays free for
// stream-level events (65536 records, or half of a small ring).
[[nodiscard]] std::uint64_t observerTailLimit(std::uint64_t capacity) noexcept;

// Receives decoder observer events from any decoder thread into preallocated storage,
// counts what it cannot keep and, once finalised, offers the events in the builder's
// order. Stream-level events grow the ring's front area; CU, PU and TU events are
// staged per thread and committed with their CTU to the tail area, so that a flood of
// block events cannot crowd out NAL units, parameter sets and slices.
class ObserverEventCollector {
public:
    ObserverEventCollector(std::uint64_t capacity, std::uint64_t targetPictureIdentity,
                           ObserverCollectorLimits limits = {});
    ~ObserverEventCollector();

    ObserverEventCollector(const ObserverEventCollector&) = delete;
    ObserverEventCollector& operator=(const ObserverEventCollector&) = delete;

    // -22 without calling the decoder for a null context, a second attach, or a call
    // from a thread other than the constructing one.
    int attach(AVCodecContext* context, std::uint64_t eventMask);
    // The decoder's result (0 when not attached); finalises in both cases.
    int detach();

    // 0 = kept or counted as dropped; -1 = fatal.
    int onEvent(const VexiloObserverEventHeader* event);

    void finalize();

    [[nodiscard]] std::uint64_t eventCount() const;
    // Throws std::out_of_range for an index at or beyond eventCount().
    [[nodiscard]] const ObserverEventRecord& eventAt(std::uint64_t index) const;

    [[nodiscard]] std::uint64_t droppedCount() const noexcept { return droppedCount_.load(); }
    [[nodiscard]] bool failed() const noexcept { return failed_.load(); }
    [[nodiscard]] std::uint32_t fatalLine() const noexcept { return fatalLine_.load(); }
    [[nodiscard]] std::uint64_t capacity() const noexcept { return capacity_; }
    [[nodiscard]] std::uint64_t requestedCapacity() const noexcept { return requestedCapacity_; }
    [[nodiscard]] bool isAttached() const noexcept { return attachedContext_ != nullptr; }
    [[nodiscard]] std::string statisticsText() const;

private:
    struct ThreadSlot;

    ThreadSlot* slotOfCallingThread();
    int fail(std::uint32_t line, std::uint64_t droppedEvents);
    void countDropped(std::uint64_t events) noexcept;

    [[nodiscard]] bool isBlockEventOfAnotherPicture(const VexiloObserverEventHeader& event) const noexcept;
    int appendFrontEvent(const ObserverEventRecord& record);
    int stageBlockEvent(ThreadSlot& slot, const ObserverEventRecord& record);
    int commitCtu(ThreadSlot& slot, const ObserverEventRecord& ctu);
    void abandonBatch(ThreadSlot& slot) noexcept;

    void closeOpenBatchesAtFinalize();
    void sortEvents();
    [[nodiscard]] std::uint64_t physicalIndexOf(std::uint64_t index) const noexcept;

    std::uint64_t requestedCapacity_ = 0;
    std::uint64_t capacity_ = 0;
    std::uint64_t tailLimit_ = 0;
    std::uint64_t targetPictureIdentity_ = 0;
    ObserverCollectorLimits limits_;

    // Storage for records that are always written before they are read. It is left
    // untouched until then: the ring and the staging areas run to hundreds of megabytes, and
    // clearing them up front cost every run the page faults of all of it.
    class RecordStorage {
    public:
        explicit RecordStorage(std::uint64_t count);
        [[nodiscard]] ObserverEventRecord* get() const noexcept;
        [[nodiscard]] ObserverEventRecord& operator[](std::uint64_t index) const noexcept { return get()[index]; }

    private:
        struct Slot {
            alignas(ObserverEventRecord) std::byte bytes[sizeof(ObserverEventRecord)];
        };
        std::unique_ptr<Slot[]> slots_;
    };

    RecordStorage ring_;
    std::unique_ptr<ThreadSlot[]> slots_;
    RecordStorage stagingRecords_;
    std::vector<std::uint64_t> sortedOrder_;

    std::uint64_t frontCount_ = 0;
    std::uint64_t tailCount_ = 0;
    std::atomic<std::uint64_t> droppedCount_{0};
    std::atomic<bool> failed_{false};
    std::atomic<std::uint32_t> fatalLine_{0};
    std::thread::id ownerThread_;
    AVCodecContext* attachedContext_ = nullptr;

    mutable std::mutex ringMutex_;
    std::mutex slotsMutex_;
    // Set once, last thing under both mutexes; readers then need no lock.
    std::atomic<bool> finalized_{false};
};

}  // namespace vexilo::analyzer
