#pragma once

#include "vexilo/analysis/records/NalParameterSetRecords.h"
#include "vexilo/hevc_observer/observer_abi.h"

#include <vector>

namespace vexilo::analyzer {

// The named syntax entries of an SPS (separate_colour_plane_flag to
// cabac_bypass_alignment_enabled_flag) and of a PPS (dependent_slice_segments_enabled_flag
// to log2_sao_offset_scale_chroma), in syntax order and only where the syntax carries them.
void appendSpsSyntaxElements(const VexiloObserverParameterSetEvent& sps,
                             std::vector<analysis::SyntaxElementInfo>& entries);
void appendPpsSyntaxElements(const VexiloObserverParameterSetEvent& pps,
                             std::vector<analysis::SyntaxElementInfo>& entries);

}  // namespace vexilo::analyzer
