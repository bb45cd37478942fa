// x265's per-frame CSV log (--csv-log-level 2), the encoder's own account of what it coded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>

namespace vexilo::hevc::oracle {

// Frame-average QP by POC, or nothing when the file is missing or has no POC or QP column.
std::optional<std::map<std::int32_t, double>> readX265AverageQpByPoc(const std::filesystem::path& csv);

} // namespace vexilo::hevc::oracle
