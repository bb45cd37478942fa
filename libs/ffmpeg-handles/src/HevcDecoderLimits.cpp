#include "vexilo/ffmpeg_handles/HevcDecoderLimits.h"

#include "bit_reader.h"
#include "nal_unit.h"
#include "parameter_sets.h"

extern "C" {
#include <libavcodec/codec_par.h>
}

#include <algorithm>
#include <array>
#include <vector>

namespace vexilo::ffmpeg {
namespace {

// The sample depths FFmpeg's HEVC decoder has pixel formats for; its SPS parser refuses any
// other ("The following bit-depths are currently specified: 8, 9, 10 and 12 bits"), and also
// chroma of another depth than luma.
constexpr std::array<std::uint32_t, 4> kDecodedBitDepths{8, 9, 10, 12};
constexpr std::string_view kBitDepthNotDecoded =
    "Samples of this bit depth are not decoded by this build's FFmpeg, which decodes HEVC samples of 8, 9, 10 "
    "and 12 bits";
constexpr std::string_view kMixedBitDepthsNotDecoded =
    "Luma and chroma samples of different bit depths are not decoded by this build's FFmpeg";
constexpr std::size_t kNalUnitHeaderBytes = 2;

bool decodedBitDepth(std::uint32_t bitDepth)
{
    return std::find(kDecodedBitDepths.begin(), kDecodedBitDepths.end(), bitDepth) != kDecodedBitDepths.end();
}

std::optional<std::string_view> reasonNotDecoded(const hevc::Sps& sps)
{
    const bool hasChroma = sps.chroma_format_idc != 0;
    if (!decodedBitDepth(sps.BitDepthY) || (hasChroma && !decodedBitDepth(sps.BitDepthC))) {
        return kBitDepthNotDecoded;
    }
    if (hasChroma && sps.BitDepthC != sps.BitDepthY) {
        return kMixedBitDepthsNotDecoded;
    }
    return std::nullopt;
}

std::vector<std::span<const std::uint8_t>> spsNalUnits(std::span<const std::uint8_t> parameterSets)
{
    std::vector<std::span<const std::uint8_t>> units;
    const auto take = [&](std::uint64_t offset, std::uint64_t size) {
        const std::span<const std::uint8_t> unit = parameterSets.subspan(offset, size);
        const std::optional<hevc::NalUnitHeader> header = hevc::parseNalUnitHeader(unit);
        if (header && header->nal_unit_type == hevc::SPS_NUT && unit.size() > kNalUnitHeaderBytes) {
            units.push_back(unit);
        }
    };
    if (const auto record = hevc::parseHvcC(parameterSets)) {
        for (const hevc::HvcCNalUnit& unit : record->nalUnits) {
            take(unit.offset, unit.size);
        }
    } else if (hevc::looksLikeAnnexB(parameterSets)) {
        for (const hevc::NalUnitSpan& unit : hevc::splitAnnexB(parameterSets)) {
            take(unit.offset, unit.size);
        }
    }
    return units;
}

} // namespace

std::string UndecodableHevcFormat::detail() const
{
    return "bitDepthLuma=" + std::to_string(bitDepthLuma) + "; bitDepthChroma=" + std::to_string(bitDepthChroma);
}

std::optional<UndecodableHevcFormat> findUndecodableHevcFormat(std::span<const std::uint8_t> parameterSets)
{
    for (const std::span<const std::uint8_t> unit : spsNalUnits(parameterSets)) {
        const hevc::Rbsp rbsp = hevc::unescapeRbsp(unit.subspan(kNalUnitHeaderBytes));
        const hevc::ParseResult<hevc::Sps> sps = hevc::parseSps(rbsp.bytes);
        if (!sps.value) {
            continue;
        }
        if (const std::optional<std::string_view> reason = reasonNotDecoded(*sps.value)) {
            return UndecodableHevcFormat{*reason, sps.value->BitDepthY, sps.value->BitDepthC};
        }
    }
    return std::nullopt;
}

std::optional<UndecodableHevcFormat> findUndecodableHevcFormat(const AVCodecParameters& parameters)
{
    if ((parameters.width > 0 && parameters.height > 0) || parameters.extradata == nullptr ||
        parameters.extradata_size <= 0) {
        return std::nullopt;
    }
    return findUndecodableHevcFormat(
        std::span<const std::uint8_t>(parameters.extradata, static_cast<std::size_t>(parameters.extradata_size)));
}

} // namespace vexilo::ffmpeg
