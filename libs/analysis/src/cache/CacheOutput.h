#pragma once

#include "vexilo/analysis/cache/CacheError.h"

#include "cache/CacheFileSystem.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace vexilo::analysis {

// One write of the file writer, charged against the simulated disk-full budget.
// Errors carry the temporary file's path.
[[nodiscard]] OptionalCacheError writeWithDiskFullHook(cachefs::OutputFile& file,
                                                       const std::filesystem::path& temporary,
                                                       std::span<const std::uint8_t> bytes,
                                                       std::optional<std::uint64_t>& budget);

// Many container files of one cache write, committed together: each is written whole to its
// temporary name without a sync of its own, then one file-system sync makes them all durable
// before they are renamed over their targets and their directory is synced. A file per
// picture would otherwise cost two disk flushes each. Temporary files of a batch that is
// never committed are removed with it.
class StagedCacheFiles {
public:
    StagedCacheFiles() = default;
    StagedCacheFiles(const StagedCacheFiles&) = delete;
    StagedCacheFiles& operator=(const StagedCacheFiles&) = delete;
    ~StagedCacheFiles();

    // The checks and writes of a single container write, up to the commit; errors as there.
    [[nodiscard]] OptionalCacheError stage(const std::filesystem::path& target, std::uint64_t magic,
                                           std::span<const std::uint8_t> payload,
                                           const CacheWriteOptions& options,
                                           std::optional<std::uint64_t>& budget);

    // Syncs the file system that holds `directory`, then renames every staged file over its
    // target and syncs the directories that changed.
    [[nodiscard]] OptionalCacheError commit(const std::filesystem::path& directory);

private:
    struct Staged {
        std::filesystem::path temporary;
        std::filesystem::path target;
    };
    std::vector<Staged> staged_;
};

}  // namespace vexilo::analysis
