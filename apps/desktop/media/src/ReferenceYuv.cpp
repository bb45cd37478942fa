#include "vexilo/media/ReferenceYuv.h"

#include "CheckedArithmetic.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
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
    if (u.samples.empty()) {
        return;
    }
    const std::size_t samplesPerPlane = u.samples.size() / 2;
    for (std::size_t i = 0; i < samplesPerPlane; ++i) {
        const std::uint8_t* pair = pairs + 4 * i;
        u.samples[2 * i] = pair[0];
        u.samples[2 * i + 1] = pair[1];
        v.samples[2 * i] = pair[2];
        v.samples[2 * i + 1] = pair[3];
    }
}

ReferenceYuvReadStatus readFailure(std::string_view message) {
    return ReferenceYuvReadStatus{false, std::string(message)};
}

struct FrameLocation {
    std::uint64_t byteOffset = 0;
    std::uint64_t frameSize = 0;
};

// Where one frame's bytes land: the planes' own storage, and for P010 a scratch area for
// the interleaved chroma that is split afterwards.
struct FrameGeometry {
    std::uint64_t lumaBytes = 0;
    std::uint64_t chromaBytes = 0;  // one chroma plane
    ChromaGeometry chroma;
};

std::optional<FrameGeometry> frameGeometry(const domain::ReferenceYuvSource& source, std::uint64_t frameSize,
                                           std::string_view& failure) {
    const ReferenceYuvLayoutInfo& info = referenceYuvLayoutInfo(source.layout);
    const std::optional<ChromaGeometry> chroma = chromaGeometry(info, source.width, source.height);
    if (info.layout == ReferenceYuvLayout::Unknown || !chroma) {
        failure = kChromaInvalid;
        return std::nullopt;
    }
    const auto bytesPerSample = static_cast<std::uint64_t>(info.bytesPerSample);
    FrameGeometry geometry;
    geometry.lumaBytes =
        static_cast<std::uint64_t>(source.width) * static_cast<std::uint64_t>(source.height) * bytesPerSample;
    geometry.chromaBytes =
        static_cast<std::uint64_t>(chroma->width) * static_cast<std::uint64_t>(chroma->height) * bytesPerSample;
    geometry.chroma = *chroma;
    if (geometry.lumaBytes + 2 * geometry.chromaBytes > frameSize) {
        failure = kLayoutExceedsBuffer;
        return std::nullopt;
    }
    return geometry;
}

// Gives a plane its geometry and storage of exactly `bytes`, keeping the storage it has.
void shapePlane(domain::VideoPlane& plane, std::uint8_t planeIndex, std::int32_t width, std::int32_t height,
                std::int32_t bytesPerSample, std::uint64_t bytes) {
    plane.planeIndex = planeIndex;
    plane.width = width;
    plane.height = height;
    plane.bytesPerSample = bytesPerSample;
    plane.stride = static_cast<std::int64_t>(width) * bytesPerSample;
    plane.samples.resize(static_cast<std::size_t>(bytes));
}

void shapeFrame(const domain::ReferenceYuvSource& source, std::int64_t frameIndex, const FrameGeometry& geometry,
                domain::VideoFrame& frame) {
    const ReferenceYuvLayoutInfo& info = referenceYuvLayoutInfo(source.layout);
    frame.index = frameIndex;
    frame.width = source.width;
    frame.height = source.height;
    frame.bitDepth = info.bitDepth;
    frame.pixelFormatName = std::string(info.pixelFormatName);
    frame.chromaFormat = info.chromaFormat;
    frame.colourRange = source.colourRange;
    frame.matrix = domain::ColourMatrix::Unspecified;
    frame.packedStride = 0;
    frame.packedData.clear();
    frame.planes.resize(3);
    shapePlane(frame.planes[0], 0, source.width, source.height, info.bytesPerSample, geometry.lumaBytes);
    for (std::uint8_t index = 1; index <= 2; ++index) {
        shapePlane(frame.planes[index], index, geometry.chroma.width, geometry.chroma.height, info.bytesPerSample,
                   geometry.chromaBytes);
    }
}

// The file descriptor of one read, closed on every way out.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const fs::path& path) : descriptor_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    [[nodiscard]] bool isOpen() const { return descriptor_ >= 0; }
    [[nodiscard]] int descriptor() const { return descriptor_; }

private:
    int descriptor_;
};

// Reads the frame's bytes straight into the given areas with one positioned vector read
// (more only if the system returns early), so nothing is zero-filled or copied on the way.
bool readInto(const ReadOnlyFile& file, std::uint64_t offset, std::vector<iovec> areas, std::string_view& failure) {
    constexpr auto kMaxFileOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    std::uint64_t total = 0;
    for (const iovec& area : areas) {
        total += area.iov_len;
    }
    if (offset > kMaxFileOffset || total > kMaxFileOffset - offset) {
        failure = kSeekFailed;
        return false;
    }
    std::size_t first = 0;
    while (first < areas.size()) {
        const ssize_t got = ::preadv(file.descriptor(), areas.data() + first, static_cast<int>(areas.size() - first),
                                     static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            failure = kReadTruncated;
            return false;
        }
        auto remaining = static_cast<std::size_t>(got);
        offset += remaining;
        while (first < areas.size() && remaining >= areas[first].iov_len) {
            remaining -= areas[first].iov_len;
            ++first;
        }
        if (first < areas.size()) {
            areas[first].iov_base = static_cast<std::uint8_t*>(areas[first].iov_base) + remaining;
            areas[first].iov_len -= remaining;
        }
    }
    return true;
}

iovec areaOf(std::uint8_t* data, std::uint64_t bytes) {
    return iovec{data, static_cast<std::size_t>(bytes)};
}

bool readFrameInto(const fs::path& path, const FrameLocation& location, const FrameGeometry& geometry,
                   bool interleavedChroma, domain::VideoFrame& frame, std::vector<std::uint8_t>& chromaPairs,
                   std::string_view& failure) {
    const ReadOnlyFile file(path);
    if (!file.isOpen()) {
        failure = kOpenFailed;
        return false;
    }
    // Bytes beyond the planes (a frame size larger than the layout needs) are not read.
    std::vector<iovec> areas{areaOf(frame.planes[0].samples.data(), geometry.lumaBytes)};
    if (interleavedChroma) {
        chromaPairs.resize(static_cast<std::size_t>(2 * geometry.chromaBytes));
        areas.push_back(areaOf(chromaPairs.data(), chromaPairs.size()));
    } else {
        areas.push_back(areaOf(frame.planes[1].samples.data(), geometry.chromaBytes));
        areas.push_back(areaOf(frame.planes[2].samples.data(), geometry.chromaBytes));
    }
    return readInto(file, location.byteOffset, std::move(areas), failure);
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

ReferenceYuvReadStatus readReferenceYuvFrameInto(const domain::ReferenceYuvSource& source, std::int64_t frameIndex,
                                                 domain::VideoFrame& frame, std::vector<std::uint8_t>& scratch) {
    if (frameIndex < 0) {
        return readFailure(kIndexNegative);
    }
    const ReferenceYuvValidationResult validation = validateReferenceYuvMetadata(source);
    if (!validation.valid) {
        return readFailure(validation.message);
    }
    if (!validation.frameSizeBytes || !validation.matchedFrameCount) {
        return readFailure(kDerivedUnavailable);
    }
    const auto index = static_cast<std::uint64_t>(frameIndex);
    if (index >= *validation.matchedFrameCount) {
        return readFailure(kIndexOutOfRange);
    }
    const std::uint64_t fileFrame = static_cast<std::uint64_t>(source.frameOffset) + index;
    const std::optional<std::uint64_t> byteOffset = checkedMultiply(fileFrame, *validation.frameSizeBytes);
    if (!byteOffset) {
        return readFailure(kIndexOutOfRange);
    }
    std::string_view failure;
    const std::optional<FrameGeometry> geometry = frameGeometry(source, *validation.frameSizeBytes, failure);
    if (!geometry) {
        return readFailure(failure);
    }
    shapeFrame(source, frameIndex, *geometry, frame);
    const bool interleaved = referenceYuvLayoutInfo(source.layout).interleavedChroma;
    if (!readFrameInto(source.path, FrameLocation{*byteOffset, *validation.frameSizeBytes}, *geometry, interleaved,
                       frame, scratch, failure)) {
        return readFailure(failure);
    }
    if (interleaved) {
        splitInterleavedChroma(scratch.data(), frame.planes[1], frame.planes[2]);
        for (domain::VideoPlane& plane : frame.planes) {
            moveP010SamplesToLowBits(plane.samples);
        }
    }
    return ReferenceYuvReadStatus{true, std::string(kFrameLoaded)};
}

ReferenceYuvFrameResult readReferenceYuvFrame(const domain::ReferenceYuvSource& source, std::int64_t frameIndex) {
    domain::VideoFrame frame;
    std::vector<std::uint8_t> scratch;
    ReferenceYuvReadStatus status = readReferenceYuvFrameInto(source, frameIndex, frame, scratch);
    ReferenceYuvFrameResult result;
    result.loaded = status.loaded;
    result.message = std::move(status.message);
    if (result.loaded) {
        result.frame = std::move(frame);
    }
    return result;
}

}  // namespace vexilo::media
