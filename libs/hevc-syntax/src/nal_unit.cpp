#include "nal_unit.h"

#include <cstring>

namespace vexilo::hevc {

namespace {
constexpr std::size_t kHvcCFixedPartSize = 23;
constexpr std::size_t kNalUnitHeaderSize = 2;

std::uint64_t readBigEndian(std::span<const std::uint8_t> bytes)
{
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes) {
        value = (value << 8U) | byte;
    }
    return value;
}

bool isStartCodeAt(std::span<const std::uint8_t> buffer, std::size_t i)
{
    return i + 2 < buffer.size() && buffer[i] == 0 && buffer[i + 1] == 0 && buffer[i + 2] == 1;
}

// The first start code (0x000001) at or after `from`; buffer.size() when there is none. Its
// first zero byte is found with memchr, which reads many bytes at a time: slice data has few
// zero bytes.
std::size_t findStartCode(std::span<const std::uint8_t> buffer, std::size_t from)
{
    const std::uint8_t* data = buffer.data();
    while (from + 2 < buffer.size()) {
        const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data + from, 0, buffer.size() - 2 - from));
        if (zero == nullptr) {
            break;
        }
        from = static_cast<std::size_t>(zero - data);
        if (data[from + 1] == 0 && data[from + 2] == 1) {
            return from;
        }
        ++from;
    }
    return buffer.size();
}
} // namespace

std::optional<NalUnitHeader> parseNalUnitHeader(std::span<const std::uint8_t> nal)
{
    if (nal.size() < kNalUnitHeaderSize || (nal[0] & 0x80U) != 0) {
        return std::nullopt;
    }
    NalUnitHeader header;
    header.nal_unit_type = (nal[0] >> 1U) & 0x3FU;
    header.nuh_layer_id = ((nal[0] & 1U) << 5U) | (nal[1] >> 3U);
    header.nuh_temporal_id_plus1 = nal[1] & 7U;
    if (header.nuh_temporal_id_plus1 == 0) {
        return std::nullopt;
    }
    return header;
}

bool isVcl(std::uint32_t t) { return t <= RSV_VCL31; }
bool isIrap(std::uint32_t t) { return t >= BLA_W_LP && t <= RSV_IRAP_VCL23; }
bool isIdr(std::uint32_t t) { return t == IDR_W_RADL || t == IDR_N_LP; }
bool isBla(std::uint32_t t) { return t >= BLA_W_LP && t <= BLA_N_LP; }
bool isRasl(std::uint32_t t) { return t == RASL_N || t == RASL_R; }
bool isRadl(std::uint32_t t) { return t == RADL_N || t == RADL_R; }
bool isSubLayerNonReference(std::uint32_t t) { return t <= RSV_VCL_N14 && (t % 2U) == 0; }

std::vector<NalUnitSpan> splitAnnexB(std::span<const std::uint8_t> buffer)
{
    std::vector<NalUnitSpan> nalUnits;
    // Bytes before the first start code belong to no NAL unit.
    std::size_t i = findStartCode(buffer, 0);
    while (i < buffer.size()) {
        const std::uint32_t startCodeLength = (i > 0 && buffer[i - 1] == 0) ? 4U : 3U;
        const std::size_t begin = i + 3;
        const std::size_t next = findStartCode(buffer, begin);
        std::size_t end = next;
        while (end > begin && buffer[end - 1] == 0) {
            --end; // trailing_zero_8bits and the next start code's zero_byte
        }
        if (end > begin) {
            nalUnits.push_back({begin, end - begin, startCodeLength});
        }
        i = next;
    }
    return nalUnits;
}

LengthPrefixedSplit splitLengthPrefixed(std::span<const std::uint8_t> buffer, unsigned lengthSize)
{
    LengthPrefixedSplit split;
    if (lengthSize != 1 && lengthSize != 2 && lengthSize != 4) {
        split.complete = false;
        return split;
    }
    std::uint64_t position = 0;
    const std::uint64_t size = buffer.size();
    while (position < size) {
        if (size - position < lengthSize) {
            split.complete = false;
            break;
        }
        const std::uint64_t length =
            readBigEndian(buffer.subspan(static_cast<std::size_t>(position), lengthSize));
        position += lengthSize;
        if (length > size - position) {
            split.complete = false;
            break;
        }
        if (length > 0) {
            split.nalUnits.push_back({position, length, 0});
        }
        position += length;
    }
    return split;
}

bool looksLikeAnnexB(std::span<const std::uint8_t> buffer)
{
    return isStartCodeAt(buffer, 0) || (buffer.size() > 3 && buffer[0] == 0 && isStartCodeAt(buffer, 1));
}

std::optional<HevcDecoderConfigurationRecord> parseHvcC(std::span<const std::uint8_t> record)
{
    if (record.size() < kHvcCFixedPartSize || record[0] != 1) {
        return std::nullopt;
    }
    HevcDecoderConfigurationRecord config;
    config.configurationVersion = record[0];
    config.general_profile_idc = record[1] & 0x1FU;
    config.general_level_idc = record[12];
    config.chromaFormat = record[16] & 3U;
    config.bitDepthLumaMinus8 = record[17] & 7U;
    config.bitDepthChromaMinus8 = record[18] & 7U;
    config.numTemporalLayers = (record[21] >> 3U) & 7U;
    config.temporalIdNested = ((record[21] >> 2U) & 1U) != 0;
    config.lengthSizeMinusOne = record[21] & 3U;
    const std::uint32_t numOfArrays = record[22];
    std::uint64_t position = kHvcCFixedPartSize;
    const std::uint64_t size = record.size();
    for (std::uint32_t array = 0; array < numOfArrays; ++array) {
        if (size - position < 3) {
            config.complete = false;
            break;
        }
        const std::uint32_t NAL_unit_type = record[static_cast<std::size_t>(position)] & 0x3FU;
        const auto numNalus = readBigEndian(record.subspan(static_cast<std::size_t>(position) + 1, 2));
        position += 3;
        for (std::uint64_t n = 0; n < numNalus; ++n) {
            if (size - position < 2) {
                config.complete = false;
                return config;
            }
            const auto length = readBigEndian(record.subspan(static_cast<std::size_t>(position), 2));
            position += 2;
            if (length > size - position) {
                config.complete = false;
                return config;
            }
            HvcCNalUnit unit;
            unit.offset = position;
            unit.size = length;
            unit.NAL_unit_type = NAL_unit_type;
            unit.indexInArray = static_cast<std::uint32_t>(n);
            config.nalUnits.push_back(unit);
            position += length;
        }
    }
    return config;
}

} // namespace vexilo::hevc
