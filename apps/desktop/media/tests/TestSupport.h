#pragma once

#include "vexilo/domain/VideoFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexilo::media::test {

// Names the cases of a table-driven suite by their `name` field.
struct CaseName {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& testCase) const {
        return testCase.param.name;
    }
};

// A generated clip of the test-media fixture.
std::filesystem::path mediaPath(const std::string& name);

// Runs a shell command and returns its standard output; fails the test on a non-zero exit.
std::string runCommand(const std::string& command);

// Quotes a path for the shell.
std::string shellQuoted(const std::filesystem::path& path);

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A fresh directory below the system temporary directory, removed with its content.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path file(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A tightly packed plane whose samples are given as values (stored little-endian when wide).
domain::VideoPlane makePlane(std::uint8_t index, std::int32_t width, std::int32_t height,
                             std::int32_t bytesPerSample, const std::vector<std::uint32_t>& values);

// A planar frame with every sample of a plane set to one value.
domain::VideoFrame makeFlatFrame(std::int32_t width, std::int32_t height, std::int32_t bitDepth,
                                 domain::ChromaFormat chroma, std::uint32_t lumaValue, std::uint32_t chromaValue);

// Sample `index` of a plane as an integer value.
std::uint32_t sampleAt(const domain::VideoPlane& plane, std::size_t index);

}  // namespace vexilo::media::test
