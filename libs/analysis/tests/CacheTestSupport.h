#pragma once

// Scratch directories, file helpers and result checks for the cache tests.

#include "vexilo/analysis/cache/CacheError.h"

#include "CacheTestDocuments.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <variant>
#include <vector>

namespace vexilo::analysis::cachetest {

// A fresh directory under the system's temporary directory, removed afterwards.
class ScratchDirectory {
public:
    ScratchDirectory()
    {
        static std::mt19937_64 random{std::random_device{}()};
        path_ = std::filesystem::temp_directory_path() /
                ("vexilo-cache-test-" + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The error of a result that must have failed; fails the test otherwise.
template <typename T> CacheError errorOf(const CacheResult<T>& result)
{
    if (const auto* error = std::get_if<CacheError>(&result)) {
        return *error;
    }
    ADD_FAILURE() << "expected a cache error, got a value";
    return {};
}

template <typename T> const T& valueOf(const CacheResult<T>& result)
{
    if (const auto* error = std::get_if<CacheError>(&result)) {
        ADD_FAILURE() << "unexpected cache error " << error->kind << " at " << error->path << ": "
                      << error->message;
    }
    return std::get<T>(result);
}

// A test name from a case's `name` ("two entries, count 3" -> "two_entries__count_3").
template <typename Case> std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    std::string name;
    for (const char c : std::string(info.param.name)) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        name += alnum ? c : '_';
    }
    return name;
}

inline void expectError(const CacheError& error, CacheErrorKind kind, const std::string& message)
{
    EXPECT_EQ(error.kind, static_cast<std::uint32_t>(kind)) << error.message;
    EXPECT_EQ(error.message, message);
}

}  // namespace vexilo::analysis::cachetest
