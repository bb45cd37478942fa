#include "collector/ChunkArena.h"

#include "vexilo/analysis/HugePages.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace vexilo::analyzer {
namespace {

constexpr std::size_t kHugePageBytes = analysis::kHugePageBytes;

void* mapSystemMemory(std::size_t bytes)
{
    void* data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return data == MAP_FAILED ? nullptr : data;
}

void unmapSystemMemory(void* data, std::size_t bytes) { munmap(data, bytes); }

void releaseSystemPages(void* data, std::size_t bytes)
{
    const auto pageBytes = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t firstWhole = (begin + pageBytes - 1) & ~(pageBytes - 1);
    const std::uintptr_t endWhole = (begin + bytes) & ~(pageBytes - 1);
    if (endWhole > firstWhole) {
        madvise(reinterpret_cast<void*>(firstWhole), endWhole - firstWhole, MADV_DONTNEED);
    }
}

std::size_t sizeClassOf(std::size_t blockBytes) noexcept
{
    return static_cast<std::size_t>(std::countr_zero(blockBytes) - std::countr_zero(ChunkArena::kSmallestBlockBytes));
}

}  // namespace

ChunkArena::MemoryCalls ChunkArena::systemMemoryCalls() noexcept
{
    return MemoryCalls{&mapSystemMemory, &analysis::adviseHugePages, &unmapSystemMemory, &releaseSystemPages};
}

ChunkArena::ChunkArena(MemoryCalls calls, EmptyRegions emptyRegions) : calls_(calls), emptyRegions_(emptyRegions) {}

ChunkArena::~ChunkArena()
{
    for (const Mapping& mapping : regions_) {
        calls_.unmap(mapping.data, mapping.bytes);
    }
    for (const Mapping& mapping : largeBlocks_) {
        calls_.unmap(mapping.data, mapping.bytes);
    }
}

std::size_t ChunkArena::blockBytesFor(std::size_t bytes) noexcept
{
    return std::bit_ceil(std::max(bytes, kSmallestBlockBytes));
}

// The mapping is a huge page larger than asked, so that the usable part can start on a
// huge page boundary.
ChunkArena::Mapping ChunkArena::mapAdvised(std::size_t usableBytes)
{
    Mapping mapping;
    mapping.bytes = usableBytes + kHugePageBytes;
    mapping.data = calls_.map(mapping.bytes);
    if (mapping.data == nullptr) {
        throw std::bad_alloc();
    }
    const auto address = reinterpret_cast<std::uintptr_t>(mapping.data);
    const std::uintptr_t aligned = (address + kHugePageBytes - 1) & ~std::uintptr_t{kHugePageBytes - 1};
    mapping.block = static_cast<std::byte*>(mapping.data) + (aligned - address);
    calls_.adviseHugePages(mapping.block, usableBytes);
    return mapping;
}

ChunkArena::Mapping* ChunkArena::regionOf(const void* block) noexcept
{
    const auto found = regionByHugePage_.find(reinterpret_cast<std::uintptr_t>(block) / kHugePageBytes);
    return found != regionByHugePage_.end() ? &regions_[found->second] : nullptr;
}

void* ChunkArena::takeShared(std::size_t blockBytes)
{
    std::vector<void*>& freeBlocks = freeBlocks_[sizeClassOf(blockBytes)];
    if (!freeBlocks.empty()) {
        void* block = freeBlocks.back();
        freeBlocks.pop_back();
        if (Mapping* region = regionOf(block)) {
            ++region->liveBlocks;
        }
        return block;
    }
    if (regionLeft_ < blockBytes) {
        // What is left of the old region was never written, so it costs no memory.
        regions_.reserve(regions_.size() + 1);
        const Mapping region = mapAdvised(kRegionBytes);
        const auto firstHugePage = reinterpret_cast<std::uintptr_t>(region.block) / kHugePageBytes;
        for (std::uintptr_t page = 0; page < kRegionBytes / kHugePageBytes; ++page) {
            regionByHugePage_[firstHugePage + page] = regions_.size();
        }
        regions_.push_back(region);
        regionNext_ = static_cast<std::byte*>(region.block);
        regionLeft_ = kRegionBytes;
    }
    void* block = regionNext_;
    regionNext_ += blockBytes;
    regionLeft_ -= blockBytes;
    ++regions_.back().liveBlocks;
    return block;
}

void ChunkArena::giveShared(void* block, std::size_t blockBytes) noexcept
{
    try {
        freeBlocks_[sizeClassOf(blockBytes)].push_back(block);
    } catch (const std::bad_alloc&) {
        // Without room to note it the block stays unused until the arena goes.
    }
    Mapping* region = regionOf(block);
    if (region != nullptr && region->liveBlocks != 0 && --region->liveBlocks == 0 &&
        emptyRegions_ == EmptyRegions::GoBack) {
        // Its free blocks stay listed: taken again, they are faulted in afresh.
        calls_.release(region->block, kRegionBytes);
    }
}

void* ChunkArena::take(std::size_t bytes)
{
    const std::size_t blockBytes = blockBytesFor(bytes);
    const std::lock_guard lock(mutex_);
    if (blockBytes <= kLargestSharedBlockBytes) {
        return takeShared(blockBytes);
    }
    largeBlocks_.reserve(largeBlocks_.size() + 1);
    const Mapping mapping = mapAdvised(blockBytes);
    largeBlocks_.push_back(mapping);
    return mapping.block;
}

void ChunkArena::give(void* block, std::size_t bytes) noexcept
{
    const std::size_t blockBytes = blockBytesFor(bytes);
    const std::lock_guard lock(mutex_);
    if (blockBytes <= kLargestSharedBlockBytes) {
        giveShared(block, blockBytes);
        return;
    }
    const auto found = std::find_if(largeBlocks_.begin(), largeBlocks_.end(),
                                    [block](const Mapping& mapping) { return mapping.block == block; });
    if (found != largeBlocks_.end()) {
        calls_.unmap(found->data, found->bytes);
        largeBlocks_.erase(found);
    }
}

std::size_t ChunkArena::mappedBytes() const
{
    const std::lock_guard lock(mutex_);
    std::size_t bytes = 0;
    for (const Mapping& mapping : regions_) {
        bytes += mapping.bytes;
    }
    for (const Mapping& mapping : largeBlocks_) {
        bytes += mapping.bytes;
    }
    return bytes;
}

}  // namespace vexilo::analyzer
