#include "vexilo/application/AnalyzerFramePacketReader.h"

#include <QtEndian>

#include <cstring>
#include <limits>
#include <optional>

namespace vexilo::application {
namespace {

using domain::VideoFrame;
using domain::VideoPlane;
using Kind = FramePacketReadFailureKind;

constexpr auto kPrefixIncomplete = "Frame packet prefix is incomplete";
constexpr auto kPrefixInvalid = "Frame packet prefix is invalid";
constexpr auto kBadMagic = "Frame packet magic does not match VXFR";
constexpr auto kUnsupportedVersion = "Frame packet protocol version is unsupported";
constexpr auto kTooLarge = "Frame packet exceeds the 256 MiB limit";
constexpr auto kPayloadIncomplete = "Frame packet payload is incomplete";
constexpr auto kMetadataInvalid = "Frame packet metadata is invalid";
constexpr auto kPlaneInvalid = "Frame packet plane is invalid";
constexpr auto kPlaneInconsistent = "Frame packet plane dimensions are inconsistent";
constexpr auto kTrailingInvalid = "Frame packet trailing data is invalid";
constexpr auto kIdentityOrPayloadInvalid = "Frame packet identity or pixel payload is invalid";

constexpr std::int64_t kAbsentInt64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int32_t kAbsentInt32 = std::numeric_limits<std::int32_t>::min();
constexpr std::uint32_t kNullByteArrayLength = 0xFFFFFFFFU;
constexpr std::uint8_t kMaxPlaneIndex = 2;

FramePacketReadFailure failure(Kind kind, const char* message)
{
    return FramePacketReadFailure{kind, QString::fromLatin1(message)};
}

// Big-endian fields of a QDataStream body, read in place; a read past the end fails and
// leaves the cursor where it was.
class BodyCursor {
public:
    explicit BodyCursor(QByteArrayView bytes) : bytes_(bytes) {}

    template <typename T>
    bool read(T& value)
    {
        if (remaining() < sizeof(T)) {
            return false;
        }
        value = qFromBigEndian<T>(bytes_.data() + position_);
        position_ += static_cast<qsizetype>(sizeof(T));
        return true;
    }

    // A null array (length 0xFFFFFFFF) reads as empty.
    bool readByteArray(QByteArrayView& value)
    {
        std::uint32_t length = 0;
        if (!read(length)) {
            return false;
        }
        if (length == kNullByteArrayLength) {
            value = {};
            return true;
        }
        if (remaining() < length) {
            return false;
        }
        value = bytes_.sliced(position_, static_cast<qsizetype>(length));
        position_ += static_cast<qsizetype>(length);
        return true;
    }

    [[nodiscard]] bool atEnd() const { return remaining() == 0; }

private:
    [[nodiscard]] std::uint64_t remaining() const { return static_cast<std::uint64_t>(bytes_.size() - position_); }

    QByteArrayView bytes_;
    qsizetype position_ = 0;
};

template <typename T>
std::optional<T> unlessSentinel(T value, T sentinel)
{
    return value == sentinel ? std::nullopt : std::optional<T>(value);
}

std::vector<std::uint8_t> copyBytes(QByteArrayView view)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(view.size()));
    if (!bytes.empty()) {
        std::memcpy(bytes.data(), view.data(), bytes.size());
    }
    return bytes;
}

bool readPicture(BodyCursor& cursor, domain::PictureInfo& picture, std::uint8_t& pictureType)
{
    std::int64_t packetIndex = 0;
    std::int64_t decodeIndex = 0;
    std::int64_t pts = 0;
    std::int64_t dts = 0;
    std::int32_t poc = 0;
    if (!(cursor.read(picture.id) && cursor.read(picture.displayIndex) && cursor.read(packetIndex) &&
          cursor.read(decodeIndex) && cursor.read(pts) && cursor.read(dts) && cursor.read(poc) &&
          cursor.read(pictureType) && cursor.read(picture.width) && cursor.read(picture.height) &&
          cursor.read(picture.bitDepth))) {
        return false;
    }
    picture.packetIndex = unlessSentinel(packetIndex, kAbsentInt64);
    picture.decodeIndex = unlessSentinel(decodeIndex, kAbsentInt64);
    picture.pts = unlessSentinel(pts, kAbsentInt64);
    picture.dts = unlessSentinel(dts, kAbsentInt64);
    picture.poc = unlessSentinel(poc, kAbsentInt32);
    return true;
}

// Enumeration codes as sent, compared unsigned so that a negative byte is out of range too.
struct FrameCodes {
    std::uint8_t pictureType = 0;
    std::uint8_t chromaFormat = 0;
    std::uint8_t colourRange = 0;
    std::uint8_t matrix = 0;
    std::uint8_t planeCount = 0;
};

bool readFrameHeader(BodyCursor& cursor, VideoFrame& frame, FrameCodes& codes)
{
    QByteArrayView name;
    if (!(cursor.read(frame.index) && cursor.read(frame.width) && cursor.read(frame.height) &&
          cursor.read(frame.bitDepth) && cursor.readByteArray(name) && cursor.read(codes.chromaFormat) &&
          cursor.read(codes.colourRange) && cursor.read(codes.matrix) && cursor.read(codes.planeCount))) {
        return false;
    }
    frame.pixelFormatName.assign(name.data(), static_cast<std::size_t>(name.size()));
    return true;
}

bool metadataIsValid(const protocol::AnalyzerFramePacket& packet, const FrameCodes& codes)
{
    const domain::PictureInfo& picture = packet.picture;
    const VideoFrame& frame = packet.frame;
    return packet.sequence != 0 && codes.planeCount <= domain::kMaxVideoPlanes && picture.width >= 1 &&
           picture.height >= 1 && frame.width == picture.width && frame.height == picture.height &&
           frame.bitDepth >= 1 && picture.bitDepth == frame.bitDepth &&
           codes.pictureType <= domain::kMaxPictureTypeCode && codes.chromaFormat <= domain::kMaxChromaFormatCode &&
           codes.colourRange <= domain::kMaxColourRangeCode && codes.matrix <= domain::kMaxColourMatrixCode;
}

void applyCodes(const FrameCodes& codes, protocol::AnalyzerFramePacket& packet)
{
    packet.picture.pictureType = static_cast<domain::PictureType>(codes.pictureType);
    packet.frame.chromaFormat = static_cast<domain::ChromaFormat>(codes.chromaFormat);
    packet.frame.colourRange = static_cast<domain::ColourRange>(codes.colourRange);
    packet.frame.matrix = static_cast<domain::ColourMatrix>(codes.matrix);
}

// What the worker never sends and the viewer must never size an allocation by: samples of
// other than one or two bytes, planes unrelated to the frame's size and chroma format, and
// rows longer than their stride. All sizes in 64 bits.
bool planeGeometryFitsFrame(const VideoFrame& frame, const VideoPlane& plane)
{
    if (plane.bytesPerSample != 1 && plane.bytesPerSample != 2) {
        return false;
    }
    if (plane.planeIndex != 0 && frame.chromaFormat == domain::ChromaFormat::None) {
        return false;
    }
    const protocol::PlaneExtent extent = protocol::expectedPlaneExtent(frame, plane.planeIndex);
    if (plane.width != extent.width || plane.height != extent.height) {
        return false;
    }
    const std::int64_t rowBytes = static_cast<std::int64_t>(plane.width) * plane.bytesPerSample;
    return plane.stride >= rowBytes;
}

bool planeDimensionsAreConsistent(const VideoFrame& frame, const VideoPlane& plane, QByteArrayView samples)
{
    if (plane.width < 1 || plane.height < 1 || plane.bytesPerSample < 1 || plane.stride == 0) {
        return false;
    }
    const auto stride = static_cast<std::uint64_t>(plane.stride);
    const auto height = static_cast<std::uint64_t>(plane.height);
    if (stride > std::numeric_limits<std::uint64_t>::max() / height) {
        return false;
    }
    return static_cast<std::uint64_t>(samples.size()) == stride * height && planeGeometryFitsFrame(frame, plane);
}

std::optional<FramePacketReadFailure> readPlanes(BodyCursor& cursor, std::uint8_t count, VideoFrame& frame)
{
    frame.planes.resize(count);
    for (VideoPlane& plane : frame.planes) {
        QByteArrayView samples;
        if (!(cursor.read(plane.planeIndex) && cursor.read(plane.width) && cursor.read(plane.height) &&
              cursor.read(plane.stride) && cursor.read(plane.bytesPerSample) && cursor.readByteArray(samples)) ||
            plane.planeIndex > kMaxPlaneIndex) {
            return failure(Kind::Invalid, kPlaneInvalid);
        }
        if (!planeDimensionsAreConsistent(frame, plane, samples)) {
            return failure(Kind::Invalid, kPlaneInconsistent);
        }
        plane.samples = copyBytes(samples);
    }
    return std::nullopt;
}

bool readPackedPayload(BodyCursor& cursor, VideoFrame& frame)
{
    QByteArrayView packed;
    if (!(cursor.read(frame.packedStride) && cursor.readByteArray(packed)) || !cursor.atEnd()) {
        return false;
    }
    frame.packedData = copyBytes(packed);
    return true;
}

FramePacketReadResult decodeBody(QByteArrayView body)
{
    BodyCursor cursor(body);
    protocol::AnalyzerFramePacket packet;
    FrameCodes codes;
    if (!(cursor.read(packet.sequence) && readPicture(cursor, packet.picture, codes.pictureType) &&
          readFrameHeader(cursor, packet.frame, codes)) ||
        !metadataIsValid(packet, codes)) {
        return failure(Kind::Invalid, kMetadataInvalid);
    }
    applyCodes(codes, packet);
    if (std::optional<FramePacketReadFailure> planeFailure = readPlanes(cursor, codes.planeCount, packet.frame)) {
        return *planeFailure;
    }
    if (!readPackedPayload(cursor, packet.frame)) {
        return failure(Kind::Invalid, kTrailingInvalid);
    }
    if (packet.frame.index != packet.picture.id || (packet.frame.planes.empty() && packet.frame.packedData.empty())) {
        return failure(Kind::Invalid, kIdentityOrPayloadInvalid);
    }
    return FramePacketReadSuccess{std::move(packet), 0};
}

}  // namespace

FramePacketReadResult decodeAnalyzerFramePacket(QByteArrayView bytes)
{
    const std::optional<protocol::FramePacketHeader> prefix = protocol::readFramePacketHeader(bytes);
    if (!prefix) {
        return failure(Kind::Incomplete, kPrefixIncomplete);
    }
    if (prefix->flags != protocol::kFramePacketFlags) {
        return failure(Kind::Invalid, kPrefixInvalid);
    }
    if (prefix->magic != protocol::kFramePacketMagic) {
        return failure(Kind::BadMagic, kBadMagic);
    }
    if (prefix->version != protocol::kFramePacketVersion) {
        return failure(Kind::UnsupportedVersion, kUnsupportedVersion);
    }
    if (prefix->bodySize > protocol::kMaxFramePacketBodySize) {
        return failure(Kind::TooLarge, kTooLarge);
    }
    const std::uint64_t available = static_cast<std::uint64_t>(bytes.size() - protocol::kFramePacketHeaderSize);
    if (available < prefix->bodySize) {
        return failure(Kind::Incomplete, kPayloadIncomplete);
    }
    FramePacketReadResult result =
        decodeBody(bytes.sliced(protocol::kFramePacketHeaderSize, static_cast<qsizetype>(prefix->bodySize)));
    if (auto* success = std::get_if<FramePacketReadSuccess>(&result)) {
        success->bytesConsumed = static_cast<std::uint64_t>(protocol::kFramePacketHeaderSize) + prefix->bodySize;
    }
    return result;
}

}  // namespace vexilo::application
