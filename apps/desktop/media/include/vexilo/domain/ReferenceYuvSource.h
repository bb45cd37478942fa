#pragma once

#include "vexilo/domain/VideoFrame.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace vexilo::domain {

// How the samples of one raw reference frame are laid out in the file. Values outside
// the enumerators can arrive from the GUI and are treated as unknown.
enum class ReferenceYuvLayout : std::uint8_t {
    Unknown = 0,
    I420 = 1,
    I010 = 2,
    P010 = 3,
    Yuv422P8 = 4,
    Yuv422P10Le = 5,
    Yuv444P8 = 6,
    Yuv444P10Le = 7,
};

// A raw, headerless reference YUV file as described by the user. The three derived
// values are what validation found when the description was accepted; readers derive
// them again from the file on every use.
struct ReferenceYuvSource {
    std::filesystem::path path;
    std::int32_t width = 0;
    std::int32_t height = 0;
    ReferenceYuvLayout layout = ReferenceYuvLayout::Unknown;
    ColourRange colourRange = ColourRange::Unspecified;
    std::int64_t frameOffset = 0;
    std::optional<std::uint64_t> frameSizeBytes;
    std::optional<std::uint64_t> physicalFrames;
    std::optional<std::uint64_t> matchedFrames;
};

}  // namespace vexilo::domain
