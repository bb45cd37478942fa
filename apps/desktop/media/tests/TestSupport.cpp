#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace vexilo::media::test {

std::filesystem::path mediaPath(const std::string& name) {
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name;
}

std::string shellQuoted(const std::filesystem::path& path) {
    std::string quoted = "'";
    for (const char c : path.string()) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr) << command;
    if (pipe == nullptr) {
        return output;
    }
    std::array<char, 65536> buffer{};
    std::size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), count);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return output;
}

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ScratchDirectory::ScratchDirectory() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("vexilo-media-test-" + std::to_string(random()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

domain::VideoPlane makePlane(std::uint8_t index, std::int32_t width, std::int32_t height,
                             std::int32_t bytesPerSample, const std::vector<std::uint32_t>& values) {
    domain::VideoPlane plane;
    plane.planeIndex = index;
    plane.width = width;
    plane.height = height;
    plane.bytesPerSample = bytesPerSample;
    plane.stride = static_cast<std::int64_t>(width) * bytesPerSample;
    for (const std::uint32_t value : values) {
        for (std::int32_t byte = 0; byte < bytesPerSample; ++byte) {
            plane.samples.push_back(static_cast<std::uint8_t>((value >> (8 * byte)) & 0xFFU));
        }
    }
    return plane;
}

domain::VideoFrame makeFlatFrame(std::int32_t width, std::int32_t height, std::int32_t bitDepth,
                                 domain::ChromaFormat chroma, std::uint32_t lumaValue, std::uint32_t chromaValue) {
    const std::int32_t bytesPerSample = bitDepth > 8 ? 2 : 1;
    const std::int32_t chromaWidth = chroma == domain::ChromaFormat::Yuv444 ? width : (width + 1) / 2;
    const std::int32_t chromaHeight = chroma == domain::ChromaFormat::Yuv420 ? (height + 1) / 2 : height;
    domain::VideoFrame frame;
    frame.width = width;
    frame.height = height;
    frame.bitDepth = bitDepth;
    frame.chromaFormat = chroma;
    const auto count = [](std::int32_t w, std::int32_t h) { return static_cast<std::size_t>(w) * static_cast<std::size_t>(h); };
    frame.planes.push_back(
        makePlane(0, width, height, bytesPerSample, std::vector<std::uint32_t>(count(width, height), lumaValue)));
    for (std::uint8_t index : {std::uint8_t{1}, std::uint8_t{2}}) {
        frame.planes.push_back(makePlane(index, chromaWidth, chromaHeight, bytesPerSample,
                                         std::vector<std::uint32_t>(count(chromaWidth, chromaHeight), chromaValue)));
    }
    return frame;
}

std::uint32_t sampleAt(const domain::VideoPlane& plane, std::size_t index) {
    if (plane.bytesPerSample == 1) {
        return plane.samples.at(index);
    }
    return static_cast<std::uint32_t>(plane.samples.at(2 * index)) |
           (static_cast<std::uint32_t>(plane.samples.at(2 * index + 1)) << 8);
}

}  // namespace vexilo::media::test
