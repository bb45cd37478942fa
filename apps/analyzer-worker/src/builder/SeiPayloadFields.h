#pragma once

#include "vexilo/analysis/records/NalParameterSetRecords.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vexilo::analyzer {

// The most entries one SEI message keeps.
inline constexpr std::size_t kMaxSeiSyntaxElements = 256;

// Decodes the named fields of an SEI payload into `entries`, as far as the bytes go.
// Entries beyond the 256th are not added and set `overflow`; decoding still reads on
// to the end of the payload. Payload types without a decoder add nothing.
void appendSeiPayloadFields(std::uint32_t payloadType, std::span<const std::uint8_t> payload,
                            std::vector<analysis::SyntaxElementInfo>& entries, bool& overflow);

}  // namespace vexilo::analyzer
