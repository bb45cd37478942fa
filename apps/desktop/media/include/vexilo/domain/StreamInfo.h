#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace vexilo::domain {

// What probing found about the opened stream; copied to every user of the source.
struct StreamInfo {
    std::int64_t streamIndex = -1;
    std::filesystem::path sourcePath;
    std::string codecName;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitDepth = 0;  // depth of the first component; 0 when the stream declares no format
    std::string pixelFormatName;
    std::int64_t frameCount = -1;  // the container's count; -1 when it does not say
};

}  // namespace vexilo::domain
