#pragma once

// Cache directories written by the real cache writer for the repository and service tests,
// and the small file surgery that makes them faulty.

#include "CacheTestDocuments.h"
#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CacheWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <variant>

namespace vexilo::application::test {

namespace cachetest = analysis::cachetest;

inline analysis::CacheManifest writeCache(const std::filesystem::path& directory,
                                          const analysis::StreamAnalysis& document)
{
    auto written = analysis::writeAnalysisCache(directory, document, analysis::CacheWriteOptions{});
    if (const auto* error = std::get_if<analysis::CacheError>(&written)) {
        ADD_FAILURE() << "cache write failed: " << error->message;
        return {};
    }
    return std::get<analysis::CacheManifest>(written);
}

inline analysis::CacheManifest writeCache(const std::filesystem::path& directory, std::uint64_t pictureCount,
                                          const std::string& fingerprint = cachetest::kFingerprintA)
{
    return writeCache(directory, cachetest::makeAnalysis(pictureCount, true, fingerprint));
}

// Overwrites one little-endian u32 of a container header in place.
inline void patchHeaderWord(const std::filesystem::path& file, std::streamoff offset, std::uint32_t value)
{
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(stream.is_open()) << file;
    stream.seekp(offset);
    for (int byte = 0; byte < 4; ++byte) {
        stream.put(static_cast<char>((value >> (8 * byte)) & 0xffU));
    }
}

// A container written by a newer writer than this reader.
inline void makeNewerContainer(const std::filesystem::path& file)
{
    constexpr std::streamoff kContainerVersionOffset = 8;
    patchHeaderWord(file, kContainerVersionOffset, analysis::kCacheContainerVersion + 1);
}

inline std::filesystem::path streamFile(const std::filesystem::path& directory)
{
    return directory / analysis::kDefaultStreamFileName;
}

}  // namespace vexilo::application::test
