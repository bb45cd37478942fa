// NAL unit framing: Annex-B byte streams, length-prefixed samples and the HEVC decoder
// configuration record (ISO/IEC 14496-15 hvcC), plus nal_unit_header() (7.3.1.2).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexilo::hevc {

enum NalUnitType : std::uint32_t {
    TRAIL_N = 0, TRAIL_R = 1, TSA_N = 2, TSA_R = 3, STSA_N = 4, STSA_R = 5,
    RADL_N = 6, RADL_R = 7, RASL_N = 8, RASL_R = 9,
    RSV_VCL_N14 = 14,
    BLA_W_LP = 16, BLA_W_RADL = 17, BLA_N_LP = 18, IDR_W_RADL = 19, IDR_N_LP = 20, CRA_NUT = 21,
    RSV_IRAP_VCL23 = 23, RSV_VCL31 = 31,
    VPS_NUT = 32, SPS_NUT = 33, PPS_NUT = 34, AUD_NUT = 35, EOS_NUT = 36, EOB_NUT = 37,
    FD_NUT = 38, PREFIX_SEI_NUT = 39, SUFFIX_SEI_NUT = 40,
};

struct NalUnitHeader {
    std::uint32_t nal_unit_type = 0;
    std::uint32_t nuh_layer_id = 0;
    std::uint32_t nuh_temporal_id_plus1 = 0;
    [[nodiscard]] std::uint32_t TemporalId() const { return nuh_temporal_id_plus1 - 1U; }
};

// Needs two bytes; forbidden_zero_bit and nuh_temporal_id_plus1 == 0 make it invalid.
std::optional<NalUnitHeader> parseNalUnitHeader(std::span<const std::uint8_t> nal);

bool isVcl(std::uint32_t nalUnitType);
bool isIrap(std::uint32_t nalUnitType);
bool isIdr(std::uint32_t nalUnitType);
bool isBla(std::uint32_t nalUnitType);
bool isRasl(std::uint32_t nalUnitType);
bool isRadl(std::uint32_t nalUnitType);
// Sub-layer non-reference picture (the _N types below RSV_VCL_N14).
bool isSubLayerNonReference(std::uint32_t nalUnitType);

// One NAL unit inside a buffer; `offset` is the position of its first header byte.
struct NalUnitSpan {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t startCodeLength = 0; // 3 or 4 for Annex-B, 0 when length-prefixed
};

// Splits at 0x000001 start codes; a zero byte before a start code makes it a 4-byte start
// code, further zeros are trailing_zero_8bits of the previous NAL unit and belong to neither.
std::vector<NalUnitSpan> splitAnnexB(std::span<const std::uint8_t> buffer);

// Splits NAL units each preceded by a big-endian length of `lengthSize` bytes (1, 2 or 4).
// Stops at the first length that runs past the buffer; `complete` tells whether it did.
struct LengthPrefixedSplit {
    std::vector<NalUnitSpan> nalUnits;
    bool complete = true;
};
LengthPrefixedSplit splitLengthPrefixed(std::span<const std::uint8_t> buffer, unsigned lengthSize);

bool looksLikeAnnexB(std::span<const std::uint8_t> buffer);

// One NAL unit of the record's arrays: where it lies in the record, the NAL_unit_type of
// its array, and its place in that array.
struct HvcCNalUnit : NalUnitSpan {
    std::uint32_t NAL_unit_type = 0;
    std::uint32_t indexInArray = 0;
};

struct HevcDecoderConfigurationRecord {
    std::uint32_t configurationVersion = 0;
    std::uint32_t general_profile_idc = 0;
    std::uint32_t general_level_idc = 0;
    std::uint32_t chromaFormat = 0;
    std::uint32_t bitDepthLumaMinus8 = 0;
    std::uint32_t bitDepthChromaMinus8 = 0;
    std::uint32_t numTemporalLayers = 0;
    bool temporalIdNested = false;
    std::uint32_t lengthSizeMinusOne = 3;
    std::vector<HvcCNalUnit> nalUnits; // offsets within the record
    bool complete = true;              // false when the arrays ran past the end
};

// The record as ISO/IEC 14496-15 lays it out; nullopt when it is shorter than 23 bytes or
// configurationVersion is not 1.
std::optional<HevcDecoderConfigurationRecord> parseHvcC(std::span<const std::uint8_t> record);

} // namespace vexilo::hevc
