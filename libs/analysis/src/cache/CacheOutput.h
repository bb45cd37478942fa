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

// A container's header and payload in one write, charged as the two writes would be.
[[nodiscard]] OptionalCacheError writeWithDiskFullHook(cachefs::OutputFile& file,
                                                       const std::filesystem::path& temporary,
                                                       std::span<const std::uint8_t> header,
                                                       std::span<const std::uint8_t> payload,
                                                       std::optional<std::uint64_t>& budget);

}  // namespace vexilo::analysis
