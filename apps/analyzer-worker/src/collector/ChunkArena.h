#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace vexilo::analyzer {

// Memory for the chunks of compact event stores: blocks of a power of two bytes, at least
// 512, carved from large mappings that ask for huge pages. A dense stream's block events
// then pay a few dozen page faults instead of one per 4 KiB, which on some virtual machines
// costs more than keeping the events. A block given back is kept for the next request of
// its size; once every block of a shared mapping is back, its pages go back to the system
// while it stays mapped, and the mappings themselves go with the arena. Stores emptied one
// after another once a stream is decoded thus leave whole huge pages to what is built from
// them, which the system hands out again far more cheaply than pages it must find. Any
// thread may use it.
class ChunkArena {
public:
    // The system's memory calls; tests put failing ones in.
    struct MemoryCalls {
        // Fresh zeroed memory, or nullptr when there is none.
        void* (*map)(std::size_t bytes);
        // Whether the system took the advice; the memory works either way.
        bool (*adviseHugePages)(void* data, std::size_t bytes);
        void (*unmap)(void* data, std::size_t bytes);
        // Hands the pages inside [data, data + bytes) back to the system while the range stays
        // mapped; what is read there afterwards is zero.
        void (*release)(void* data, std::size_t bytes);
    };

    static constexpr std::size_t kSmallestBlockBytes = 512;
    // Mappings are reserved this large; only what is written costs memory.
    static constexpr std::size_t kRegionBytes = std::size_t{32} << 20;
    // Larger blocks get a mapping of their own, given back to the system with the block.
    static constexpr std::size_t kLargestSharedBlockBytes = kRegionBytes / 8;

    [[nodiscard]] static MemoryCalls systemMemoryCalls() noexcept;

    // Whether the pages of a shared region go back to the system once all its blocks are back:
    // they stay where stores come and go one after another, each filling what the last emptied.
    enum class EmptyRegions : bool { GoBack, Stay };

    explicit ChunkArena(MemoryCalls calls = systemMemoryCalls(), EmptyRegions emptyRegions = EmptyRegions::GoBack);
    ~ChunkArena();
    ChunkArena(const ChunkArena&) = delete;
    ChunkArena& operator=(const ChunkArena&) = delete;

    // The size of the block that take(bytes) returns.
    [[nodiscard]] static std::size_t blockBytesFor(std::size_t bytes) noexcept;
    // A block of blockBytesFor(bytes) bytes, aligned to its size up to 4 KiB. Throws std::bad_alloc when
    // the system has no memory.
    [[nodiscard]] void* take(std::size_t bytes);
    // Gives back a block that take(bytes) returned, with the same `bytes`.
    void give(void* block, std::size_t bytes) noexcept;

    // Bytes mapped from the system, written or not.
    [[nodiscard]] std::size_t mappedBytes() const;

private:
    struct Mapping {
        void* data = nullptr;
        std::size_t bytes = 0;
        void* block = nullptr;
        // Blocks of a shared region that are taken and not given back.
        std::size_t liveBlocks = 0;
    };
    // One per power of two from the smallest to the largest shared block.
    static constexpr std::size_t kSharedSizeClasses = 14;
    static_assert(kLargestSharedBlockBytes == kSmallestBlockBytes << (kSharedSizeClasses - 1));

    [[nodiscard]] Mapping mapAdvised(std::size_t usableBytes);
    [[nodiscard]] void* takeShared(std::size_t blockBytes);
    void giveShared(void* block, std::size_t blockBytes) noexcept;
    [[nodiscard]] Mapping* regionOf(const void* block) noexcept;

    MemoryCalls calls_;
    EmptyRegions emptyRegions_;
    mutable std::mutex mutex_;
    std::vector<Mapping> regions_;
    // The region of each huge page of the shared regions, which start on huge pages.
    std::unordered_map<std::uintptr_t, std::size_t> regionByHugePage_;
    std::vector<Mapping> largeBlocks_;
    std::byte* regionNext_ = nullptr;
    std::size_t regionLeft_ = 0;
    std::array<std::vector<void*>, kSharedSizeClasses> freeBlocks_;
};

}  // namespace vexilo::analyzer
