#pragma once

#include "vexilo/domain/ReferenceYuvSource.h"
#include "vexilo/domain/VideoFrame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexilo::media {

// One row of the reference layout table.
struct ReferenceYuvLayoutInfo {
    domain::ReferenceYuvLayout layout;
    std::string_view displayName;
    std::string_view pixelFormatName;
    domain::ChromaFormat chromaFormat;
    std::int32_t bitDepth;
    std::int32_t bytesPerSample;
    bool interleavedChroma;  // one plane of U,V pairs after Y (P010)
};

// The table row of a layout; values outside the table give the "Unknown" row.
[[nodiscard]] const ReferenceYuvLayoutInfo& referenceYuvLayoutInfo(domain::ReferenceYuvLayout layout);

// Chroma format of a raw layout value as the GUI holds it; None outside the table.
[[nodiscard]] domain::ChromaFormat chromaFormatForLayout(std::uint8_t layout);

struct ReferenceYuvValidationResult {
    bool valid = false;
    std::string message;
    std::optional<std::uint64_t> frameSizeBytes;
    std::optional<std::uint64_t> physicalFrameCount;
    std::optional<std::uint64_t> matchedFrameCount;
};

// Checks the entered metadata against the file on disk and derives the frame size, the
// number of whole frames and the number of frames left after the offset.
[[nodiscard]] ReferenceYuvValidationResult validateReferenceYuvMetadata(
    const domain::ReferenceYuvSource& source);

struct ReferenceYuvFrameResult {
    bool loaded = false;
    std::string message;
    std::optional<domain::VideoFrame> frame;
};

// Reads frame `frameIndex` (counted after the source's frame offset) into a tightly
// packed planar frame. Re-validates the metadata against the file on every call.
[[nodiscard]] ReferenceYuvFrameResult readReferenceYuvFrame(const domain::ReferenceYuvSource& source,
                                                            std::int64_t frameIndex);

struct ReferenceYuvReadStatus {
    bool loaded = false;
    std::string message;  // "Reference YUV frame loaded", or why not
};

// The same read into `frame`, reusing the storage its planes (and `scratch`, for P010's
// interleaved chroma) already have: a caller reading frame after frame of one file
// allocates once. The file's bytes go straight into the planes with one read call. On a
// failure the frame's content is unspecified.
[[nodiscard]] ReferenceYuvReadStatus readReferenceYuvFrameInto(const domain::ReferenceYuvSource& source,
                                                               std::int64_t frameIndex, domain::VideoFrame& frame,
                                                               std::vector<std::uint8_t>& scratch);

}  // namespace vexilo::media
