#include "vexilo/protocol/FramePacket.h"

#include <QDataStream>
#include <QIODevice>

#include <array>
#include <limits>

namespace vexilo::protocol {
namespace {

using domain::VideoFrame;
using domain::VideoPlane;

constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;
constexpr std::uint32_t kNullByteArrayCount = 0xFFFFFFFFU;
constexpr std::int64_t kAbsentInt64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int32_t kAbsentInt32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMaxBitDepth = 16;

// Fixed-width parts of a body, so the whole size is known before anything is allocated.
constexpr std::uint64_t kFixedBodyBytes = 8 * 7 + 4 + 1 + 4 * 3  // sequence and picture
                                          + 8 + 4 * 3 + 4        // frame header, name count
                                          + 4                    // chroma, range, matrix, plane count
                                          + 8 + 4;               // packed stride, packed data count
constexpr std::uint64_t kFixedPlaneBytes = 1 + 4 + 4 + 8 + 4 + 4;

// --- Writing ---------------------------------------------------------------------------

std::uint64_t bodySize(const AnalyzerFramePacket& packet)
{
    std::uint64_t size = kFixedBodyBytes + packet.frame.pixelFormatName.size() + packet.frame.packedData.size();
    for (const VideoPlane& plane : packet.frame.planes) {
        size += kFixedPlaneBytes + plane.samples.size();
    }
    return size;
}

void writeBytes(QDataStream& stream, const void* data, std::size_t size, bool nullWhenEmpty)
{
    if (size == 0 && nullWhenEmpty) {
        stream << kNullByteArrayCount;
        return;
    }
    stream << static_cast<quint32>(size);
    stream.writeRawData(static_cast<const char*>(data), static_cast<int>(size));
}

template <typename T>
qint64 orSentinel(const std::optional<T>& value, qint64 sentinel)
{
    return value ? static_cast<qint64>(*value) : sentinel;
}

void writePicture(QDataStream& stream, const domain::PictureInfo& picture)
{
    stream << static_cast<qint64>(picture.id) << static_cast<qint64>(picture.displayIndex)
           << orSentinel(picture.packetIndex, kAbsentInt64) << orSentinel(picture.decodeIndex, kAbsentInt64)
           << orSentinel(picture.pts, kAbsentInt64) << orSentinel(picture.dts, kAbsentInt64)
           << static_cast<qint32>(picture.poc.value_or(kAbsentInt32))
           << static_cast<qint8>(picture.pictureType) << static_cast<qint32>(picture.width)
           << static_cast<qint32>(picture.height) << static_cast<qint32>(picture.bitDepth);
}

// Where plane samples go: into the stream, or, when `sampleCuts` is given, nowhere but their
// count, with the place they belong recorded.
void writePlaneSamples(QDataStream& stream, const VideoPlane& plane, std::vector<qsizetype>* sampleCuts)
{
    if (sampleCuts == nullptr) {
        writeBytes(stream, plane.samples.data(), plane.samples.size(), false);
        return;
    }
    stream << static_cast<quint32>(plane.samples.size());
    sampleCuts->push_back(static_cast<qsizetype>(stream.device()->pos()));
}

void writeFrame(QDataStream& stream, const VideoFrame& frame, std::vector<qsizetype>* sampleCuts)
{
    stream << static_cast<qint64>(frame.index) << static_cast<qint32>(frame.width)
           << static_cast<qint32>(frame.height) << static_cast<qint32>(frame.bitDepth);
    writeBytes(stream, frame.pixelFormatName.data(), frame.pixelFormatName.size(), false);
    stream << static_cast<qint8>(frame.chromaFormat) << static_cast<qint8>(frame.colourRange)
           << static_cast<qint8>(frame.matrix) << static_cast<qint8>(frame.planes.size());
    for (const VideoPlane& plane : frame.planes) {
        stream << static_cast<qint8>(plane.planeIndex) << static_cast<qint32>(plane.width)
               << static_cast<qint32>(plane.height) << static_cast<qint64>(plane.stride)
               << static_cast<qint32>(plane.bytesPerSample);
        writePlaneSamples(stream, plane, sampleCuts);
    }
    stream << static_cast<qint64>(frame.packedStride);
    writeBytes(stream, frame.packedData.data(), frame.packedData.size(), true);
}

QDataStream& configured(QDataStream& stream)
{
    stream.setVersion(kStreamVersion);
    stream.setByteOrder(QDataStream::BigEndian);
    return stream;
}

// --- Reading ---------------------------------------------------------------------------

// Bounds-checked big-endian cursor: every read fails cleanly past the end.
class BodyReader {
public:
    explicit BodyReader(QByteArrayView bytes) : bytes_(bytes) {}

    template <typename T>
    bool read(T& value)
    {
        using Unsigned = std::make_unsigned_t<T>;
        if (remaining() < sizeof(T)) {
            return fail();
        }
        Unsigned bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bits = static_cast<Unsigned>((bits << 8U) | static_cast<std::uint8_t>(bytes_[position_ + static_cast<qsizetype>(i)]));
        }
        position_ += static_cast<qsizetype>(sizeof(T));
        value = static_cast<T>(bits);
        return true;
    }

    // A QDataStream byte array; `isNull` reports the 0xFFFFFFFF count.
    bool readByteArray(QByteArrayView& value, bool& isNull)
    {
        std::uint32_t count = 0;
        if (!read(count)) {
            return false;
        }
        isNull = count == kNullByteArrayCount;
        if (isNull) {
            value = {};
            return true;
        }
        if (remaining() < count) {
            return fail();
        }
        value = bytes_.sliced(position_, static_cast<qsizetype>(count));
        position_ += static_cast<qsizetype>(count);
        return true;
    }

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] bool atEnd() const { return remaining() == 0; }

private:
    [[nodiscard]] std::size_t remaining() const { return static_cast<std::size_t>(bytes_.size() - position_); }
    bool fail()
    {
        ok_ = false;
        return false;
    }

    QByteArrayView bytes_;
    qsizetype position_ = 0;
    bool ok_ = true;
};

template <typename T>
std::optional<T> fromSentinel(std::int64_t value, std::int64_t sentinel)
{
    return value == sentinel ? std::nullopt : std::optional<T>(static_cast<T>(value));
}

std::vector<std::uint8_t> toBytes(QByteArrayView view)
{
    const auto* begin = reinterpret_cast<const std::uint8_t*>(view.data());
    return {begin, begin + view.size()};
}

// Codes outside the enumerations are refused here, before they become enumerators.
struct RawCodes {
    std::int8_t pictureType = 0;
    std::int8_t chromaFormat = 0;
    std::int8_t colourRange = 0;
    std::int8_t matrix = 0;
    std::int8_t planeCount = 0;
};

QString rawCodeProblem(const RawCodes& codes)
{
    const std::array checks{
        std::pair{codes.pictureType <= domain::kMaxPictureTypeCode, "picture type out of range"},
        std::pair{codes.chromaFormat <= domain::kMaxChromaFormatCode, "chroma format out of range"},
        std::pair{codes.colourRange <= domain::kMaxColourRangeCode, "colour range out of range"},
        std::pair{codes.matrix <= domain::kMaxColourMatrixCode, "colour matrix out of range"},
        std::pair{codes.planeCount <= static_cast<int>(domain::kMaxVideoPlanes), "more than three planes"},
    };
    const bool negative = codes.pictureType < 0 || codes.chromaFormat < 0 || codes.colourRange < 0 ||
                          codes.matrix < 0 || codes.planeCount < 0;
    if (negative) {
        return QStringLiteral("negative enumeration code");
    }
    for (const auto& [passes, problem] : checks) {
        if (!passes) {
            return QString::fromLatin1(problem);
        }
    }
    return {};
}

bool readPicture(BodyReader& reader, domain::PictureInfo& picture, RawCodes& codes)
{
    std::int64_t packetIndex = 0;
    std::int64_t decodeIndex = 0;
    std::int64_t pts = 0;
    std::int64_t dts = 0;
    std::int32_t poc = 0;
    reader.read(picture.id) && reader.read(picture.displayIndex) && reader.read(packetIndex) &&
        reader.read(decodeIndex) && reader.read(pts) && reader.read(dts) && reader.read(poc) &&
        reader.read(codes.pictureType) && reader.read(picture.width) && reader.read(picture.height) &&
        reader.read(picture.bitDepth);
    picture.packetIndex = fromSentinel<std::int64_t>(packetIndex, kAbsentInt64);
    picture.decodeIndex = fromSentinel<std::int64_t>(decodeIndex, kAbsentInt64);
    picture.pts = fromSentinel<std::int64_t>(pts, kAbsentInt64);
    picture.dts = fromSentinel<std::int64_t>(dts, kAbsentInt64);
    picture.poc = fromSentinel<std::int32_t>(poc, kAbsentInt32);
    return reader.ok();
}

bool readPlane(BodyReader& reader, VideoPlane& plane)
{
    std::int8_t planeIndex = 0;
    QByteArrayView samples;
    bool isNull = false;
    if (!(reader.read(planeIndex) && reader.read(plane.width) && reader.read(plane.height) &&
          reader.read(plane.stride) && reader.read(plane.bytesPerSample) && reader.readByteArray(samples, isNull))) {
        return false;
    }
    // A negative index is refused later as out of range; 0xFF reads as 255.
    plane.planeIndex = static_cast<std::uint8_t>(planeIndex);
    plane.samples = toBytes(samples);
    return true;
}

bool readFrame(BodyReader& reader, VideoFrame& frame, RawCodes& codes)
{
    QByteArrayView name;
    bool nameIsNull = false;
    if (!(reader.read(frame.index) && reader.read(frame.width) && reader.read(frame.height) &&
          reader.read(frame.bitDepth) && reader.readByteArray(name, nameIsNull) && reader.read(codes.chromaFormat) &&
          reader.read(codes.colourRange) && reader.read(codes.matrix) && reader.read(codes.planeCount))) {
        return false;
    }
    frame.pixelFormatName.assign(name.data(), static_cast<std::size_t>(name.size()));
    if (codes.planeCount < 0 || codes.planeCount > static_cast<int>(domain::kMaxVideoPlanes)) {
        return true;  // refused by the code checks; the rest is not worth reading
    }
    frame.planes.resize(static_cast<std::size_t>(codes.planeCount));
    for (VideoPlane& plane : frame.planes) {
        if (!readPlane(reader, plane)) {
            return false;
        }
    }
    QByteArrayView packed;
    bool packedIsNull = false;
    if (!(reader.read(frame.packedStride) && reader.readByteArray(packed, packedIsNull))) {
        return false;
    }
    frame.packedData = toBytes(packed);
    return true;
}

void applyCodes(const RawCodes& codes, AnalyzerFramePacket& packet)
{
    packet.picture.pictureType = static_cast<domain::PictureType>(codes.pictureType);
    packet.frame.chromaFormat = static_cast<domain::ChromaFormat>(codes.chromaFormat);
    packet.frame.colourRange = static_cast<domain::ColourRange>(codes.colourRange);
    packet.frame.matrix = static_cast<domain::ColourMatrix>(codes.matrix);
}

// --- Acceptance ------------------------------------------------------------------------

std::int32_t ceilShift(std::int32_t value, int shift)
{
    return static_cast<std::int32_t>((static_cast<std::int64_t>(value) + (1LL << shift) - 1) >> shift);
}

std::optional<std::uint64_t> checkedProduct(std::int64_t a, std::int64_t b)
{
    if (a < 0 || b < 0) {
        return std::nullopt;
    }
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(b), &product)) {
        return std::nullopt;
    }
    return product;
}

QString planeProblem(const VideoFrame& frame, std::size_t index)
{
    const VideoPlane& plane = frame.planes[index];
    if (plane.planeIndex != index) {
        return QStringLiteral("planes must carry the indexes 0, 1, 2 in order");
    }
    const PlaneExtent extent = expectedPlaneExtent(frame, index);
    if (plane.width != extent.width || plane.height != extent.height) {
        return QStringLiteral("plane %1 size does not match the frame size and chroma format").arg(index);
    }
    const std::int32_t expectedBytesPerSample = frame.bitDepth <= 8 ? 1 : 2;
    if (plane.bytesPerSample != expectedBytesPerSample) {
        return QStringLiteral("plane %1 bytes per sample does not match the bit depth").arg(index);
    }
    const std::int64_t rowBytes = static_cast<std::int64_t>(plane.width) * plane.bytesPerSample;
    if (plane.stride < rowBytes) {
        return QStringLiteral("plane %1 stride is smaller than a row").arg(index);
    }
    const std::optional<std::uint64_t> size = checkedProduct(plane.stride, plane.height);
    if (!size || *size != plane.samples.size()) {
        return QStringLiteral("plane %1 sample bytes do not match stride x height").arg(index);
    }
    return {};
}

QString planarLayoutProblem(const VideoFrame& frame)
{
    if (frame.planes.size() != domain::kMaxVideoPlanes) {
        return QStringLiteral("a planar frame needs exactly three planes");
    }
    if (frame.chromaFormat == domain::ChromaFormat::None) {
        return QStringLiteral("a planar frame needs a chroma format");
    }
    if (frame.packedStride != 0 || !frame.packedData.empty()) {
        return QStringLiteral("a planar frame carries no packed data");
    }
    for (std::size_t index = 0; index < frame.planes.size(); ++index) {
        if (QString problem = planeProblem(frame, index); !problem.isEmpty()) {
            return problem;
        }
    }
    return {};
}

QString packedLayoutProblem(const VideoFrame& frame)
{
    if (frame.pixelFormatName != domain::kPackedRgba8FormatName) {
        return QStringLiteral("a frame without planes must be packed rgba8");
    }
    if (frame.packedStride < static_cast<std::int64_t>(frame.width) * domain::kPackedRgba8BytesPerPixel) {
        return QStringLiteral("packed stride is smaller than a row");
    }
    const std::optional<std::uint64_t> size = checkedProduct(frame.packedStride, frame.height);
    if (!size || frame.packedData.size() < *size) {
        return QStringLiteral("packed data is shorter than stride x height");
    }
    return {};
}

// The packet's bytes over `bytes` (whose allocation is kept), all of them or, with `sampleCuts`,
// all but the plane samples.
bool serializeInto(const AnalyzerFramePacket& packet, QByteArray& bytes, std::vector<qsizetype>* sampleCuts)
{
    // Shrinking an array keeps its allocation.
    bytes.resize(0);
    if (!framePacketProblem(packet).isEmpty()) {
        return false;
    }
    // Sized up front so that an oversized frame is refused before anything is allocated.
    const std::uint64_t size = bodySize(packet);
    if (size > kMaxFramePacketBodySize) {
        return false;
    }
    const std::uint64_t leftOut = sampleCuts == nullptr ? 0 : planeSampleBytes(packet.frame);

    bytes.reserve(static_cast<qsizetype>(static_cast<std::uint64_t>(kFramePacketHeaderSize) + size - leftOut));
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    configured(stream);
    stream << kFramePacketMagic << kFramePacketVersion << kFramePacketFlags << static_cast<quint64>(size);
    stream << static_cast<qint64>(packet.sequence);
    writePicture(stream, packet.picture);
    writeFrame(stream, packet.frame, sampleCuts);
    const bool complete = static_cast<std::uint64_t>(bytes.size() - kFramePacketHeaderSize) + leftOut == size;
    if (stream.status() != QDataStream::Ok || !complete) {
        bytes.resize(0);
        return false;
    }
    return true;
}

}  // namespace

std::uint64_t planeSampleBytes(const VideoFrame& frame)
{
    std::uint64_t bytes = 0;
    for (const VideoPlane& plane : frame.planes) {
        bytes += plane.samples.size();
    }
    return bytes;
}

PlaneExtent expectedPlaneExtent(const VideoFrame& frame, std::size_t planeIndex)
{
    if (planeIndex == 0 || frame.chromaFormat == domain::ChromaFormat::Yuv444) {
        return {frame.width, frame.height};
    }
    const int verticalShift = frame.chromaFormat == domain::ChromaFormat::Yuv420 ? 1 : 0;
    return {ceilShift(frame.width, 1), ceilShift(frame.height, verticalShift)};
}

QString videoFrameLayoutProblem(const VideoFrame& frame)
{
    if (frame.width < 1 || frame.height < 1) {
        return QStringLiteral("frame size must be at least 1 x 1");
    }
    if (frame.bitDepth < 1 || frame.bitDepth > kMaxBitDepth) {
        return QStringLiteral("frame bit depth out of range");
    }
    const RawCodes codes{0, static_cast<std::int8_t>(frame.chromaFormat), static_cast<std::int8_t>(frame.colourRange),
                         static_cast<std::int8_t>(frame.matrix), 0};
    if (frame.planes.size() > domain::kMaxVideoPlanes) {
        return QStringLiteral("more than three planes");
    }
    if (QString problem = rawCodeProblem(codes); !problem.isEmpty()) {
        return problem;
    }
    return frame.planes.empty() ? packedLayoutProblem(frame) : planarLayoutProblem(frame);
}

QString framePacketProblem(const AnalyzerFramePacket& packet)
{
    const domain::PictureInfo& picture = packet.picture;
    if (packet.sequence == 0) {
        return QStringLiteral("sequence must not be 0");
    }
    if (static_cast<std::uint8_t>(picture.pictureType) > domain::kMaxPictureTypeCode) {
        return QStringLiteral("picture type out of range");
    }
    if (picture.width < 1 || picture.height < 1 || picture.width != packet.frame.width ||
        picture.height != packet.frame.height) {
        return QStringLiteral("picture size must be positive and match the frame");
    }
    if (picture.bitDepth < 1 || picture.bitDepth != packet.frame.bitDepth) {
        return QStringLiteral("picture bit depth must be positive and match the frame");
    }
    return videoFrameLayoutProblem(packet.frame);
}

QByteArray serializeAnalyzerFramePacket(const AnalyzerFramePacket& packet)
{
    QByteArray bytes;
    if (!serializeAnalyzerFramePacketInto(packet, bytes)) {
        return {};
    }
    return bytes;
}

bool serializeAnalyzerFramePacketInto(const AnalyzerFramePacket& packet, QByteArray& bytes)
{
    return serializeInto(packet, bytes, nullptr);
}

bool serializeAnalyzerFramePacketFramingInto(const AnalyzerFramePacket& packet, FramePacketFraming& framing)
{
    framing.sampleCuts.clear();
    if (!serializeInto(packet, framing.bytes, &framing.sampleCuts)) {
        framing.sampleCuts.clear();
        return false;
    }
    return true;
}

std::optional<FramePacketHeader> readFramePacketHeader(QByteArrayView bytes)
{
    if (bytes.size() < kFramePacketHeaderSize) {
        return std::nullopt;
    }
    BodyReader reader(bytes.first(kFramePacketHeaderSize));
    FramePacketHeader header;
    reader.read(header.magic) && reader.read(header.version) && reader.read(header.flags) &&
        reader.read(header.bodySize);
    return header;
}

QString framePacketHeaderProblem(const FramePacketHeader& header)
{
    if (header.magic != kFramePacketMagic) {
        return QStringLiteral("frame packet magic mismatch");
    }
    if (header.version != kFramePacketVersion) {
        return QStringLiteral("unsupported frame packet version");
    }
    if (header.bodySize > kMaxFramePacketBodySize) {
        return QStringLiteral("frame packet body exceeds 256 MiB");
    }
    return {};
}

FramePacketDecodeResult decodeFramePacketBody(QByteArrayView body)
{
    if (static_cast<std::uint64_t>(body.size()) > kMaxFramePacketBodySize) {
        return FramePacketDecodeError{QStringLiteral("frame packet body exceeds 256 MiB")};
    }
    BodyReader reader(body);
    AnalyzerFramePacket packet;
    RawCodes codes;
    std::int64_t sequence = 0;
    if (!(reader.read(sequence) && readPicture(reader, packet.picture, codes) &&
          readFrame(reader, packet.frame, codes))) {
        return FramePacketDecodeError{QStringLiteral("frame packet body is truncated")};
    }
    if (QString problem = rawCodeProblem(codes); !problem.isEmpty()) {
        return FramePacketDecodeError{problem};
    }
    if (!reader.atEnd()) {
        return FramePacketDecodeError{QStringLiteral("frame packet body has trailing bytes")};
    }
    packet.sequence = static_cast<std::uint64_t>(sequence);
    applyCodes(codes, packet);
    if (QString problem = framePacketProblem(packet); !problem.isEmpty()) {
        return FramePacketDecodeError{problem};
    }
    return packet;
}

FramePacketDecodeResult decodeAnalyzerFramePacket(QByteArrayView packet)
{
    const std::optional<FramePacketHeader> header = readFramePacketHeader(packet);
    if (!header) {
        return FramePacketDecodeError{QStringLiteral("frame packet header is truncated")};
    }
    if (QString problem = framePacketHeaderProblem(*header); !problem.isEmpty()) {
        return FramePacketDecodeError{problem};
    }
    const QByteArrayView body = packet.sliced(kFramePacketHeaderSize);
    if (static_cast<std::uint64_t>(body.size()) != header->bodySize) {
        return FramePacketDecodeError{QStringLiteral("frame packet body size does not match its header")};
    }
    return decodeFramePacketBody(body);
}

}  // namespace vexilo::protocol
