#include "stream_patch.h"

#include "bit_reader.h"
#include "bit_writer.h"
#include "parameter_sets.h"

#include <array>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace vexilo::hevc::test {
namespace {

constexpr std::size_t kNalUnitHeaderBytes = 2;
constexpr unsigned kProfileTierLevelBitsOfOneSubLayer = 96;
// general_profile_space to general_frame_only_constraint_flag, then the three bit-depth
// constraint flags (max_12bit, max_10bit, max_8bit) of the general profile.
constexpr unsigned kProfileBitsBeforeDepthConstraints = 44;
constexpr unsigned kDepthConstraintFlags = 3;
constexpr std::uint32_t kBitDepthOffset = 8; // bit_depth_*_minus8
constexpr std::array<std::uint8_t, 4> kStartCode{0, 0, 0, 1};

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

// Copies bits from a reader to a writer, element by element, for RBSP rewrites.
class BitCopy {
public:
    explicit BitCopy(std::span<const std::uint8_t> rbsp) : rbsp_(rbsp), reader_(rbsp) {}

    void bits(std::uint64_t count)
    {
        for (std::uint64_t bit = 0; bit < count; ++bit) {
            writer_.u(1, reader_.u(1));
        }
    }
    std::uint32_t ue()
    {
        const std::uint32_t value = reader_.ue();
        writer_.ue(value);
        return value;
    }
    std::uint32_t u(unsigned count)
    {
        const std::uint32_t value = reader_.u(count);
        writer_.u(count, value);
        return value;
    }
    // Reads an element without writing it.
    BitReader& skip() { return reader_; }
    BitWriter& write() { return writer_; }
    // Everything up to rbsp_stop_one_bit, then new trailing bits.
    StreamBytes finishCopying()
    {
        bits(stopBitPosition(rbsp_) - reader_.position());
        return writer_.finish();
    }
    [[nodiscard]] std::uint64_t bitsLeftBeforeStop() const { return stopBitPosition(rbsp_) - reader_.position(); }

private:
    std::span<const std::uint8_t> rbsp_;
    BitReader reader_;
    BitWriter writer_;
};

// profile_tier_level( 1, 0 ) with the general profile's bit-depth constraint flags cleared.
void copyProfileTierLevelWithoutDepthConstraints(BitCopy& copy)
{
    copy.bits(kProfileBitsBeforeDepthConstraints);
    for (unsigned flag = 0; flag < kDepthConstraintFlags; ++flag) {
        static_cast<void>(copy.skip().u(1));
        copy.write().u(1, 0);
    }
    copy.bits(kProfileTierLevelBitsOfOneSubLayer - kProfileBitsBeforeDepthConstraints - kDepthConstraintFlags);
}

void requireOneSubLayer(std::uint32_t maxSubLayersMinus1)
{
    if (maxSubLayersMinus1 != 0) {
        throw std::invalid_argument("parameter set with more than one sub-layer");
    }
}

StreamBytes vpsWithoutDepthConstraints(std::span<const std::uint8_t> rbsp)
{
    BitCopy copy(rbsp);
    copy.bits(12);                  // vps_video_parameter_set_id to vps_max_layers_minus1
    requireOneSubLayer(copy.u(3)); // vps_max_sub_layers_minus1
    copy.bits(17);                  // vps_temporal_id_nesting_flag, vps_reserved_0xffff_16bits
    copyProfileTierLevelWithoutDepthConstraints(copy);
    return copy.finishCopying();
}

// sps_extension_present_flag, sps_range_extension_flag, the other three extension flags and
// sps_extension_4bits, then sps_range_extension( ) with extended_precision_processing_flag alone.
void writeExtendedPrecisionExtension(BitWriter& writer)
{
    writer.flag(true).flag(true).u(3, 0).u(4, 0);
    // transform_skip_rotation_enabled_flag to explicit_rdpcm_enabled_flag, then
    // extended_precision_processing_flag, then intra_smoothing_disabled_flag to
    // cabac_bypass_alignment_enabled_flag.
    writer.u(4, 0).flag(true).u(4, 0);
}

StreamBytes spsWithBitDepths(std::span<const std::uint8_t> rbsp, SampleBitDepths depths, bool extendedPrecision)
{
    const ParseResult<Sps> parsed = parseSps(rbsp);
    if (extendedPrecision && (!parsed.value || parsed.value->sps_extension_present_flag)) {
        throw std::invalid_argument("SPS that cannot take a range extension of its own");
    }
    BitCopy copy(rbsp);
    copy.bits(4);                   // sps_video_parameter_set_id
    requireOneSubLayer(copy.u(3)); // sps_max_sub_layers_minus1
    copy.bits(1);                   // sps_temporal_id_nesting_flag
    copyProfileTierLevelWithoutDepthConstraints(copy);
    copy.ue(); // sps_seq_parameter_set_id
    if (copy.ue() == 3) { // chroma_format_idc
        copy.bits(1);     // separate_colour_plane_flag
    }
    copy.ue();               // pic_width_in_luma_samples
    copy.ue();               // pic_height_in_luma_samples
    if (copy.u(1) != 0) {    // conformance_window_flag
        for (int offset = 0; offset < 4; ++offset) {
            copy.ue();
        }
    }
    static_cast<void>(copy.skip().ue()); // bit_depth_luma_minus8
    static_cast<void>(copy.skip().ue()); // bit_depth_chroma_minus8
    copy.write().ue(depths.luma - kBitDepthOffset).ue(depths.chroma - kBitDepthOffset);
    if (!extendedPrecision) {
        return copy.finishCopying();
    }
    copy.bits(copy.bitsLeftBeforeStop() - 1);
    static_cast<void>(copy.skip().u(1)); // sps_extension_present_flag, 0
    writeExtendedPrecisionExtension(copy.write());
    return copy.finishCopying();
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

StreamBytes withSampleBitDepths(std::span<const std::uint8_t> stream, SampleBitDepths depths, bool extendedPrecision)
{
    StreamBytes raised;
    for (const NalUnitSpan& nal : splitAnnexB(stream)) {
        const std::span<const std::uint8_t> unit = stream.subspan(nal.offset, nal.size);
        const std::optional<NalUnitHeader> header = parseNalUnitHeader(unit);
        const std::uint32_t type = header ? header->nal_unit_type : 0;
        if (type == SUFFIX_SEI_NUT) {
            continue;
        }
        raised.insert(raised.end(), kStartCode.begin(), kStartCode.end());
        if (type != VPS_NUT && type != SPS_NUT) {
            raised.insert(raised.end(), unit.begin(), unit.end());
            continue;
        }
        const StreamBytes rbsp = rbspOf(stream, nal);
        const StreamBytes rewritten =
            type == VPS_NUT ? vpsWithoutDepthConstraints(rbsp) : spsWithBitDepths(rbsp, depths, extendedPrecision);
        raised.insert(raised.end(), unit.begin(), unit.begin() + kNalUnitHeaderBytes);
        const StreamBytes escaped = escape(rewritten);
        raised.insert(raised.end(), escaped.begin(), escaped.end());
    }
    return raised;
}

std::vector<DeepSampleStream> deepSampleStreams()
{
    const std::filesystem::path reference = std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm";
    const std::filesystem::path media(VEXILO_TEST_MEDIA_DIR);
    return {
        {"main_444_16_intra", reference / "s30_444_12_intra_rext.bit", {16, 16}, false},
        {"mono_400_16bit_extended_precision", media / "mono_400_8bit_no_sao.hevc", {16, 16}, true},
        {"main_444_luma_10_chroma_12_intra", reference / "s30_444_12_intra_rext.bit", {10, 12}, false},
    };
}

std::filesystem::path writeDeepSampleStream(const DeepSampleStream& stream, const std::filesystem::path& directory)
{
    std::ifstream in(stream.source, std::ios::binary);
    const StreamBytes source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (source.empty()) {
        throw std::invalid_argument("cannot read " + stream.source.string());
    }
    const StreamBytes deeper = withSampleBitDepths(source, stream.depths, stream.extendedPrecision);
    const std::filesystem::path path = directory / (std::string(stream.name) + ".hevc");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(deeper.data()), static_cast<std::streamsize>(deeper.size()));
    return path;
}

} // namespace vexilo::hevc::test
