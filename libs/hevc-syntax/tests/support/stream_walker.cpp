#include "stream_walker.h"

#include <fstream>
#include <iterator>

namespace vexilo::hevc::test {

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void StreamWalker::walk(std::span<const std::uint8_t> stream)
{
    for (const NalUnitSpan& span : splitAnnexB(stream)) {
        const std::span<const std::uint8_t> nal = stream.subspan(span.offset, span.size);
        const auto header = parseNalUnitHeader(nal);
        if (!header || nal.size() < 2) {
            continue;
        }
        const Rbsp rbsp = unescapeRbsp(nal.subspan(2));
        keepParameterSet(*header, rbsp.bytes);
        if (onNalUnit) {
            onNalUnit(*header);
        }
        if (isVcl(header->nal_unit_type)) {
            visitSliceSegment(*header, rbsp);
        }
    }
}

void StreamWalker::keepParameterSet(const NalUnitHeader& header, std::span<const std::uint8_t> rbsp)
{
    // Parse failures leave the store as it was.
    if (header.nal_unit_type == SPS_NUT) {
        if (auto sps = parseSps(rbsp); sps.value) {
            store_.sps[sps.value->sps_seq_parameter_set_id] = std::make_shared<const Sps>(*sps.value);
        }
    } else if (header.nal_unit_type == PPS_NUT) {
        if (auto pps = parsePps(rbsp); pps.value) {
            store_.pps[pps.value->pps_pic_parameter_set_id] = std::make_shared<const Pps>(*pps.value);
        }
    } else if (header.nal_unit_type == VPS_NUT) {
        if (auto vps = parseVps(rbsp); vps.value) {
            store_.vps[vps.value->vps_video_parameter_set_id] = std::make_shared<const Vps>(*vps.value);
        }
    }
}

void StreamWalker::visitSliceSegment(const NalUnitHeader& header, const Rbsp& rbsp)
{
    SliceHeaderContext context;
    context.parameterSets = &store_;
    context.independentSlice = haveIndependent_ ? &independent_ : nullptr;
    context.layout = layout_;
    context.layoutSps = layoutSps_;
    context.layoutPps = layoutPps_;
    const SliceHeaderParse parse = parseSliceSegmentHeader(rbsp.bytes, header, context);
    if (parse.parsed) {
        layout_ = parse.layout;
        layoutSps_ = parse.sps.get();
        layoutPps_ = parse.pps.get();
        if (!parse.header.dependent_slice_segment_flag) {
            independent_ = parse.header;
            haveIndependent_ = true;
        }
    }
    if (onSliceSegment) {
        onSliceSegment(WalkedSliceSegment{header, rbsp, parse});
    }
}

} // namespace vexilo::hevc::test
