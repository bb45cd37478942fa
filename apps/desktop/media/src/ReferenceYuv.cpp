#include "vexilo/media/ReferenceYuv.h"

#include "CheckedArithmetic.h"

#include <array>
#include <fstream>
#include <limits>
#include <system_error>

namespace vexilo::media {
namespace {

using domain::ChromaFormat;
using domain::ReferenceYuvLayout;
namespace fs = std::filesystem;

constexpr std::array kLayoutTable{
    ReferenceYuvLayoutInfo{ReferenceYuvLayout::Unknown, "Unknown", "unknown", ChromaFormat::None, 0, 1, false},
    ReferenceYuvLayoutInfo{ReferenceYuvLayout::I420, "I420", "yuv420p", ChromaFormat::Yuv420, 8, 1, false},
    ReferenceYuvLayoutInfo{ReferenceYuvLayout::I010, "I010", "yuv420p10le", ChromaFormat::Yuv420, 10, 2, false},
    ReferenceYuvLayoutInfo{ReferenceYuvLayout::P010, "P010", "p010le", ChromaFormat::Yuv420, 10, 2, true},
    ReferenceYuvLayoutInfo{ReferenceYuvLayout::Yuv422P8, "YUV422P8", "yuv422p", ChromaFormat::Yuv422, 8, 1, false},
    ReferenceYuvLayoutInfo{ReferenceYuvLayout::Yuv422P10Le, "YUV422P10LE", "yuv422p10le", ChromaFormat::Yuv422, 10, 2,
                           false},
    ReferenceYuvLayoutInfo{ReferenceYuvLayout::Yuv444P8, "YUV444P8", "yuv444p", ChromaFormat::Yuv444, 8, 1, false},
    ReferenceYuvLayoutInfo{ReferenceYuvLayout::Yuv444P10Le, "YUV444P10LE", "yuv444p10le", ChromaFormat::Yuv444, 10, 2,
                           false},
};

// Validation messages.
constexpr std::string_view kMetadataValid = "Reference YUV metadata is valid";
constexpr std::string_view kPathEmpty = "Reference YUV path is empty";
constexpr std::string_view kSizeNotPositive = "Reference YUV width and height must be positive";
constexpr std::string_view kLayoutUnknown = "Reference YUV layout is unknown";
constexpr std::string_view kOffsetNegative = "Reference YUV frame offset cannot be negative";
constexpr std::string_view kFrameSizeUnderivable = "Reference YUV frame size could not be derived";
constexpr std::string_view kCannotInspectPrefix = "Reference YUV file cannot be inspected: ";
constexpr std::string_view kFileMissing = "Reference YUV file does not exist";
constexpr std::string_view kNotRegularFile = "Reference YUV path is not a regular file";
constexpr std::string_view kSizeUnreadablePrefix = "Reference YUV file size cannot be read: ";
constexpr std::string_view kSmallerThanFrame = "Reference YUV file is smaller than one frame";
constexpr std::string_view kNotWholeFrames = "Reference YUV file size is not an exact multiple of frame size";
constexpr std::string_view kOffsetSkipsAll = "Reference YUV frame offset skips every frame";

// Frame-read messages.
constexpr std::string_view kFrameLoaded = "Reference YUV frame loaded";
constexpr std::string_view kIndexNegative = "Reference YUV frame index cannot be negative";
constexpr std::string_view kDerivedUnavailable = "Reference YUV derived frame metadata is unavailable";
constexpr std::string_view kIndexOutOfRange = "Reference YUV frame index is outside the matched frame range";
constexpr std::string_view kOpenFailed = "Reference YUV file could not be opened";
constexpr std::string_view kSeekFailed = "Reference YUV frame seek failed";
constexpr std::string_view kReadTruncated = "Reference YUV frame read was truncated";
constexpr std::string_view kChromaInvalid = "Reference YUV chroma dimensions are invalid";
constexpr std::string_view kLayoutExceedsBuffer = "Reference YUV frame layout exceeds the frame buffer";

// P010 keeps each 10-bit sample in the upper bits of its 16-bit word.
constexpr unsigned kP010SampleShift = 6;

struct PlaneSize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
};

std::optional<PlaneSize> chromaPlaneSize(ChromaFormat format, std::uint64_t width, std::uint64_t height) {
    switch (format) {
        case ChromaFormat::Yuv420:
            return PlaneSize{(width + 1) / 2, (height + 1) / 2};
        case ChromaFormat::Yuv422:
            return PlaneSize{(width + 1) / 2, height};
        case ChromaFormat::Yuv444:
            return PlaneSize{width, height};
        case ChromaFormat::None:
            break;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> deriveFrameSize(const domain::ReferenceYuvSource& source) {
    const ReferenceYuvLayoutInfo& info = referenceYuvLayoutInfo(source.layout);
    const auto width = static_cast<std::uint64_t>(source.width);
    const auto height = static_cast<std::uint64_t>(source.height);
    const std::optional<PlaneSize> chroma = chromaPlaneSize(info.chromaFormat, width, height);
    if (!chroma) {
        return std::nullopt;
    }
    const auto luma = checkedMultiply(width, height);
    const auto chromaPlane = checkedMultiply(chroma->width, chroma->height);
    const auto bothChroma = chromaPlane ? checkedMultiply(2, *chromaPlane) : std::nullopt;
    const auto samples = luma && bothChroma ? checkedAdd(*luma, *bothChroma) : std::nullopt;
    const auto bytes =
        samples ? checkedMultiply(*samples, static_cast<std::uint64_t>(info.bytesPerSample)) : std::nullopt;
    if (!bytes || *bytes == 0) {
        return std::nullopt;
    }
    return bytes;
}

ReferenceYuvValidationResult invalid(std::string_view message, std::optional<std::uint64_t> frameSize = std::nullopt,
                                     std::optional<std::uint64_t> physicalFrames = std::nullopt) {
    ReferenceYuvValidationResult result;
    result.message = std::string(message);
    result.frameSizeBytes = frameSize;
    result.physicalFrameCount = physicalFrames;
    return result;
}

std::optional<std::string_view> checkEnteredMetadata(const domain::ReferenceYuvSource& source) {
    if (source.path.empty()) {
        return kPathEmpty;
    }
    if (source.width < 1 || source.height < 1) {
        return kSizeNotPositive;
    }
    if (source.layout == ReferenceYuvLayout::Unknown) {
        return kLayoutUnknown;
    }
    if (source.frameOffset < 0) {
        return kOffsetNegative;
    }
    return std::nullopt;
}

// libstdc++ reports a missing path (or a file where a directory was expected on the way)
// as the type "not found" *and* an error code; that is the "does not exist" case, not an
// inspection failure. Every other error means the path could not be looked at.
std::optional<std::string> checkPathIsRegularFile(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        return std::string(kFileMissing);
    }
    if (error) {
        return std::string(kCannotInspectPrefix) + error.message();
    }
    if (status.type() == fs::file_type::none) {
        return std::string(kFileMissing);
    }
    if (status.type() != fs::file_type::regular) {
        return std::string(kNotRegularFile);
    }
    return std::nullopt;
}

struct ChromaGeometry {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

std::optional<ChromaGeometry> chromaGeometry(const ReferenceYuvLayoutInfo& info, std::int32_t width,
                                             std::int32_t height) {
    const auto size = chromaPlaneSize(info.chromaFormat, static_cast<std::uint64_t>(width),
                                      static_cast<std::uint64_t>(height));
    if (!size || size->width < 1 || size->height < 1) {
        return std::nullopt;
    }
    return ChromaGeometry{static_cast<std::int32_t>(size->width), static_cast<std::int32_t>(size->height)};
}

domain::VideoPlane makePlane(std::uint8_t planeIndex, std::int32_t width, std::int32_t height,
                             std::int32_t bytesPerSample) {
    domain::VideoPlane plane;
    plane.planeIndex = planeIndex;
    plane.width = width;
    plane.height = height;
    plane.bytesPerSample = bytesPerSample;
    plane.stride = static_cast<std::int64_t>(width) * bytesPerSample;
    return plane;
}

std::uint16_t loadLittleEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

void storeLittleEndian16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value & 0xFFU);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

void moveP010SamplesToLowBits(std::vector<std::uint8_t>& samples) {
    for (std::size_t offset = 0; offset + 1 < samples.size(); offset += 2) {
        storeLittleEndian16(&samples[offset],
                            static_cast<std::uint16_t>(loadLittleEndian16(&samples[offset]) >> kP010SampleShift));
    }
}

// Splits the interleaved U,V word pairs that follow the Y plane into two planes.
void splitInterleavedChroma(const std::uint8_t* pairs, domain::VideoPlane& u, domain::VideoPlane& v) {
    const std::size_t samplesPerPlane = u.samples.size() / 2;
    for (std::size_t i = 0; i < samplesPerPlane; ++i) {
        const std::uint8_t* pair = pairs + 4 * i;
        u.samples[2 * i] = pair[0];
        u.samples[2 * i + 1] = pair[1];
        v.samples[2 * i] = pair[2];
        v.samples[2 * i + 1] = pair[3];
    }
}

ReferenceYuvFrameResult frameFailure(std::string_view message) {
    ReferenceYuvFrameResult result;
    result.message = std::string(message);
    return result;
}

struct FrameLocation {
    std::uint64_t byteOffset = 0;
    std::uint64_t frameSize = 0;
};

std::optional<std::vector<std::uint8_t>> readFrameBytes(const fs::path& path, const FrameLocation& location,
                                                        std::string_view& failure) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        failure = kOpenFailed;
        return std::nullopt;
    }
    constexpr auto kMaxStreamOffset = static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max());
    if (location.byteOffset > kMaxStreamOffset || !file.seekg(static_cast<std::streamoff>(location.byteOffset))) {
        failure = kSeekFailed;
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(location.frameSize), 0);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(location.frameSize));
    if (static_cast<std::uint64_t>(file.gcount()) != location.frameSize) {
        failure = kReadTruncated;
        return std::nullopt;
    }
    return bytes;
}

ReferenceYuvFrameResult buildFrame(const domain::ReferenceYuvSource& source, std::int64_t frameIndex,
                                   const std::vector<std::uint8_t>& bytes) {
    const ReferenceYuvLayoutInfo& info = referenceYuvLayoutInfo(source.layout);
    const std::optional<ChromaGeometry> chroma = chromaGeometry(info, source.width, source.height);
    if (info.layout == ReferenceYuvLayout::Unknown || !chroma) {
        return frameFailure(kChromaInvalid);
    }
    const auto bytesPerSample = static_cast<std::uint64_t>(info.bytesPerSample);
    const std::uint64_t lumaBytes =
        static_cast<std::uint64_t>(source.width) * static_cast<std::uint64_t>(source.height) * bytesPerSample;
    const std::uint64_t chromaBytes =
        static_cast<std::uint64_t>(chroma->width) * static_cast<std::uint64_t>(chroma->height) * bytesPerSample;
    if (lumaBytes + 2 * chromaBytes > bytes.size()) {
        return frameFailure(kLayoutExceedsBuffer);
    }

    domain::VideoFrame frame;
    frame.index = frameIndex;
    frame.width = source.width;
    frame.height = source.height;
    frame.bitDepth = info.bitDepth;
    frame.pixelFormatName = std::string(info.pixelFormatName);
    frame.chromaFormat = info.chromaFormat;
    frame.colourRange = source.colourRange;
    frame.matrix = domain::ColourMatrix::Unspecified;

    const auto lumaEnd = bytes.begin() + static_cast<std::ptrdiff_t>(lumaBytes);
    const auto chromaLength = static_cast<std::ptrdiff_t>(chromaBytes);
    domain::VideoPlane y = makePlane(0, source.width, source.height, info.bytesPerSample);
    domain::VideoPlane u = makePlane(1, chroma->width, chroma->height, info.bytesPerSample);
    domain::VideoPlane v = makePlane(2, chroma->width, chroma->height, info.bytesPerSample);
    y.samples.assign(bytes.begin(), lumaEnd);
    if (info.interleavedChroma) {
        u.samples.resize(static_cast<std::size_t>(chromaBytes));
        v.samples.resize(static_cast<std::size_t>(chromaBytes));
        splitInterleavedChroma(bytes.data() + lumaBytes, u, v);
        for (domain::VideoPlane* plane : {&y, &u, &v}) {
            moveP010SamplesToLowBits(plane->samples);
        }
    } else {
        u.samples.assign(lumaEnd, lumaEnd + chromaLength);
        v.samples.assign(lumaEnd + chromaLength, lumaEnd + 2 * chromaLength);
    }
    frame.planes = {std::move(y), std::move(u), std::move(v)};

    ReferenceYuvFrameResult result;
    result.loaded = true;
    result.message = std::string(kFrameLoaded);
    result.frame = std::move(frame);
    return result;
}

}  // namespace

const ReferenceYuvLayoutInfo& referenceYuvLayoutInfo(ReferenceYuvLayout layout) {
    const auto value = static_cast<std::size_t>(layout);
    return value < kLayoutTable.size() ? kLayoutTable[value] : kLayoutTable.front();
}

domain::ChromaFormat chromaFormatForLayout(std::uint8_t layout) {
    return referenceYuvLayoutInfo(static_cast<ReferenceYuvLayout>(layout)).chromaFormat;
}

ReferenceYuvValidationResult validateReferenceYuvMetadata(const domain::ReferenceYuvSource& source) {
    if (const auto failure = checkEnteredMetadata(source)) {
        return invalid(*failure);
    }
    const std::optional<std::uint64_t> frameSize = deriveFrameSize(source);
    if (!frameSize) {
        return invalid(kFrameSizeUnderivable);
    }
    if (const auto failure = checkPathIsRegularFile(source.path)) {
        return invalid(*failure, frameSize);
    }
    std::error_code error;
    const std::uintmax_t fileSize = fs::file_size(source.path, error);
    if (error) {
        return invalid(std::string(kSizeUnreadablePrefix) + error.message(), frameSize);
    }
    if (fileSize < *frameSize) {
        return invalid(kSmallerThanFrame, frameSize);
    }
    if (fileSize % *frameSize != 0) {
        return invalid(kNotWholeFrames, frameSize);
    }
    const std::uint64_t physicalFrames = fileSize / *frameSize;
    const auto frameOffset = static_cast<std::uint64_t>(source.frameOffset);
    if (frameOffset >= physicalFrames) {
        return invalid(kOffsetSkipsAll, frameSize, physicalFrames);
    }
    ReferenceYuvValidationResult result;
    result.valid = true;
    result.message = std::string(kMetadataValid);
    result.frameSizeBytes = frameSize;
    result.physicalFrameCount = physicalFrames;
    result.matchedFrameCount = physicalFrames - frameOffset;
    return result;
}

ReferenceYuvFrameResult readReferenceYuvFrame(const domain::ReferenceYuvSource& source, std::int64_t frameIndex) {
    if (frameIndex < 0) {
        return frameFailure(kIndexNegative);
    }
    const ReferenceYuvValidationResult validation = validateReferenceYuvMetadata(source);
    if (!validation.valid) {
        return frameFailure(validation.message);
    }
    if (!validation.frameSizeBytes || !validation.matchedFrameCount) {
        return frameFailure(kDerivedUnavailable);
    }
    const auto index = static_cast<std::uint64_t>(frameIndex);
    if (index >= *validation.matchedFrameCount) {
        return frameFailure(kIndexOutOfRange);
    }
    const std::uint64_t fileFrame = static_cast<std::uint64_t>(source.frameOffset) + index;
    const std::optional<std::uint64_t> byteOffset = checkedMultiply(fileFrame, *validation.frameSizeBytes);
    if (!byteOffset) {
        return frameFailure(kIndexOutOfRange);
    }
    std::string_view failure;
    const auto bytes = readFrameBytes(source.path, FrameLocation{*byteOffset, *validation.frameSizeBytes}, failure);
    if (!bytes) {
        return frameFailure(failure);
    }
    return buildFrame(source, frameIndex, *bytes);
}

}  // namespace vexilo::media
