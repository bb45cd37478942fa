#include "stream_patch.h"

#include "bit_reader.h"
#include "bit_writer.h"

#include <stdexcept>

namespace vexilo::hevc::test {
namespace {

constexpr std::size_t kNalUnitHeaderBytes = 2;
constexpr unsigned kProfileTierLevelBitsOfOneSubLayer = 96;

std::uint64_t stopBitPosition(std::span<const std::uint8_t> rbsp)
{
    for (std::size_t byte = rbsp.size(); byte > 0; --byte) {
        const unsigned value = rbsp[byte - 1];
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (((value >> bit) & 1U) != 0) {
                return (byte - 1) * 8U + (7U - bit);
            }
        }
    }
    throw std::invalid_argument("RBSP without rbsp_stop_one_bit");
}

// emulation_prevention_three_byte wherever two zero bytes precede a byte of at most 3.
StreamBytes escape(std::span<const std::uint8_t> rbsp)
{
    StreamBytes escaped;
    unsigned zeros = 0;
    for (const std::uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            escaped.push_back(3);
            zeros = 0;
        }
        escaped.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return escaped;
}

} // namespace

std::optional<NalUnitSpan> firstNalUnitOfType(std::span<const std::uint8_t> stream, std::uint32_t nalUnitType)
{
    for (const NalUnitSpan& span : splitAnnexB(stream)) {
        const auto header = parseNalUnitHeader(stream.subspan(span.offset, span.size));
        if (header && header->nal_unit_type == nalUnitType) {
            return span;
        }
    }
    return std::nullopt;
}

StreamBytes rbspOf(std::span<const std::uint8_t> stream, const NalUnitSpan& nal)
{
    return unescapeRbsp(stream.subspan(nal.offset + kNalUnitHeaderBytes, nal.size - kNalUnitHeaderBytes)).bytes;
}

std::uint64_t nalBitOf(std::span<const std::uint8_t> stream, const NalUnitSpan& nal, std::uint64_t rbspBit)
{
    std::uint64_t rbspByte = 0;
    unsigned zeros = 0;
    for (std::uint64_t i = kNalUnitHeaderBytes; i < nal.size; ++i) {
        const std::uint8_t byte = stream[nal.offset + i];
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        if (rbspByte == rbspBit / 8U) {
            return i * 8U + rbspBit % 8U;
        }
        ++rbspByte;
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    throw std::invalid_argument("bit beyond the NAL unit");
}

StreamBytes withUe(std::span<const std::uint8_t> rbsp, std::uint64_t bitPosition, std::uint32_t value)
{
    BitReader reader(rbsp);
    BitWriter writer;
    for (std::uint64_t bit = 0; bit < bitPosition; ++bit) {
        writer.u(1, reader.u(1));
    }
    static_cast<void>(reader.ue());
    writer.ue(value);
    const std::uint64_t stopBit = stopBitPosition(rbsp);
    while (reader.position() < stopBit) {
        writer.u(1, reader.u(1));
    }
    return writer.finish();
}

StreamBytes withRbsp(std::span<const std::uint8_t> stream, const NalUnitSpan& nal, std::span<const std::uint8_t> rbsp)
{
    const auto payloadBegin = stream.begin() + static_cast<std::ptrdiff_t>(nal.offset + kNalUnitHeaderBytes);
    const auto nalEnd = stream.begin() + static_cast<std::ptrdiff_t>(nal.offset + nal.size);
    StreamBytes patched(stream.begin(), payloadBegin);
    const StreamBytes escaped = escape(rbsp);
    patched.insert(patched.end(), escaped.begin(), escaped.end());
    patched.insert(patched.end(), nalEnd, stream.end());
    return patched;
}

StreamBytes withCopyAfter(std::span<const std::uint8_t> stream, const NalUnitSpan& nal,
                          std::span<const std::uint8_t> rbsp, NalUnitSpan& placed)
{
    const auto nalEnd = stream.begin() + static_cast<std::ptrdiff_t>(nal.offset + nal.size);
    StreamBytes copied(stream.begin(), nalEnd);
    copied.insert(copied.end(), {0, 0, 0, 1});
    placed = nal;
    placed.offset = copied.size();
    placed.startCodeLength = 4;
    const auto header = stream.begin() + static_cast<std::ptrdiff_t>(nal.offset);
    copied.insert(copied.end(), header, header + static_cast<std::ptrdiff_t>(kNalUnitHeaderBytes));
    const StreamBytes escaped = escape(rbsp);
    copied.insert(copied.end(), escaped.begin(), escaped.end());
    placed.size = copied.size() - placed.offset;
    copied.insert(copied.end(), nalEnd, stream.end());
    return copied;
}

SpsReorderField locateSpsReorderField(std::span<const std::uint8_t> spsRbsp)
{
    BitReader reader(spsRbsp);
    reader.skipBits(4); // sps_video_parameter_set_id
    if (reader.u(3) != 0) {
        throw std::invalid_argument("SPS with more than one sub-layer");
    }
    reader.skipBits(1 + kProfileTierLevelBitsOfOneSubLayer);
    static_cast<void>(reader.ue()); // sps_seq_parameter_set_id
    if (reader.ue() == 3) {         // chroma_format_idc
        reader.skipBits(1);
    }
    static_cast<void>(reader.ue()); // pic_width_in_luma_samples
    static_cast<void>(reader.ue()); // pic_height_in_luma_samples
    if (reader.flag()) {            // conformance_window_flag
        for (int offset = 0; offset < 4; ++offset) {
            static_cast<void>(reader.ue());
        }
    }
    static_cast<void>(reader.ue()); // bit_depth_luma_minus8
    static_cast<void>(reader.ue()); // bit_depth_chroma_minus8
    static_cast<void>(reader.ue()); // log2_max_pic_order_cnt_lsb_minus4
    reader.skipBits(1);             // sps_sub_layer_ordering_info_present_flag
    SpsReorderField field;
    field.maxDecPicBufferingMinus1 = reader.ue();
    field.bitPosition = reader.position();
    return field;
}

StreamBytes withReorderAboveTheDpb(std::span<const std::uint8_t> stream, SpsReorderField& field)
{
    const std::optional<NalUnitSpan> sps = firstNalUnitOfType(stream, SPS_NUT);
    if (!sps) {
        throw std::invalid_argument("stream without an SPS");
    }
    const StreamBytes rbsp = rbspOf(stream, *sps);
    field = locateSpsReorderField(rbsp);
    return withRbsp(stream, *sps, withUe(rbsp, field.bitPosition, field.maxDecPicBufferingMinus1 + 1U));
}

} // namespace vexilo::hevc::test
