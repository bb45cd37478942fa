#pragma once

#include "vexilo/analysis/StableId.h"

#include <string_view>

namespace vexilo::analyzer {

// The document's identity from its source fingerprint: the first 128 bits of the
// digest after the first ':', never the null identity.
[[nodiscard]] analysis::StableId documentIdFromFingerprint(std::string_view fingerprint);

// The 64-bit short form of an identity: its low word, or its high word when low is 0.
[[nodiscard]] std::uint64_t compactIdFromStableId(const analysis::StableId& id) noexcept;

}  // namespace vexilo::analyzer
