#include "parameter_sets.h"

namespace vexilo::hevc {

namespace {
constexpr std::uint32_t kMaxLayerId = 63;
constexpr std::uint32_t kVpsReserved0xffff = 0xFFFF;

Vps parseVpsSyntax(BitReader& reader)
{
    Vps vps;
    vps.vps_video_parameter_set_id = reader.u(4);
    vps.vps_base_layer_internal_flag = reader.flag();
    vps.vps_base_layer_available_flag = reader.flag();
    vps.vps_max_layers_minus1 = reader.u(6);
    vps.vps_max_sub_layers_minus1 = reader.u(3);
    require(vps.vps_max_sub_layers_minus1 < kMaxSubLayers, "vps_max_sub_layers_minus1 above 6");
    vps.vps_temporal_id_nesting_flag = reader.flag();
    require(reader.u(16) == kVpsReserved0xffff, "vps_reserved_0xffff_16bits is not 0xffff");
    vps.profileTierLevel = parseProfileTierLevel(reader, true, vps.vps_max_sub_layers_minus1);
    vps.vps_sub_layer_ordering_info_present_flag = reader.flag();
    const std::uint32_t first = vps.vps_sub_layer_ordering_info_present_flag ? 0 : vps.vps_max_sub_layers_minus1;
    for (std::uint32_t i = first; i <= vps.vps_max_sub_layers_minus1; ++i) {
        SubLayerOrdering& ordering = vps.subLayerOrdering[i];
        ordering.max_dec_pic_buffering_minus1 = reader.ueMax(15, "vps_max_dec_pic_buffering_minus1 above 15");
        ordering.max_num_reorder_pics = reader.ueMax(ordering.max_dec_pic_buffering_minus1,
                                                     "vps_max_num_reorder_pics above the DPB size");
        ordering.max_latency_increase_plus1 = reader.ue();
        ordering.signaled = true;
    }
    for (std::uint32_t i = 0; i < first; ++i) {
        vps.subLayerOrdering[i] = vps.subLayerOrdering[first];
        vps.subLayerOrdering[i].signaled = false;
    }
    vps.vps_max_layer_id = reader.u(6);
    vps.vps_num_layer_sets_minus1 = reader.ueMax(kMaxVpsLayerSets - 1U, "vps_num_layer_sets_minus1 above 1023");
    for (std::uint32_t i = 1; i <= vps.vps_num_layer_sets_minus1; ++i) {
        VpsLayerSet layerSet;
        layerSet.layerSetIndex = i;
        for (std::uint32_t j = 0; j <= vps.vps_max_layer_id && j <= kMaxLayerId; ++j) {
            layerSet.includedLayerMask |= static_cast<std::uint64_t>(reader.u(1)) << j;
        }
        vps.layerSets.push_back(layerSet);
    }
    vps.vps_timing_info_present_flag = reader.flag();
    if (vps.vps_timing_info_present_flag) {
        vps.vps_num_units_in_tick = reader.u(32);
        vps.vps_time_scale = reader.u(32);
        vps.vps_poc_proportional_to_timing_flag = reader.flag();
        if (vps.vps_poc_proportional_to_timing_flag) {
            vps.vps_num_ticks_poc_diff_one_minus1 = reader.ue();
        }
        vps.vps_num_hrd_parameters = reader.ueMax(vps.vps_num_layer_sets_minus1 + 1U, "vps_num_hrd_parameters out of range");
        for (std::uint32_t i = 0; i < vps.vps_num_hrd_parameters; ++i) {
            reader.ueMax(vps.vps_num_layer_sets_minus1, "hrd_layer_set_idx out of range");
            const bool cprms_present_flag = i == 0 || reader.flag();
            vps.hrdParameters.push_back(parseHrdParameters(reader, cprms_present_flag, vps.vps_max_sub_layers_minus1));
        }
    }
    vps.vps_extension_flag = reader.flag();
    return vps;
}
} // namespace

ParseResult<Vps> parseVps(std::span<const std::uint8_t> rbsp)
{
    return parseRbsp<Vps>(rbsp, [](BitReader& reader) { return parseVpsSyntax(reader); });
}

} // namespace vexilo::hevc
