#pragma once

// Failure texts that more than one part of the cache raises.

namespace vexilo::analysis::cachetexts {

inline constexpr const char* kDirectoryEmpty = "cache directory is empty";
inline constexpr const char* kDirectoryNotCreated = "cache directory could not be created: ";

}  // namespace vexilo::analysis::cachetexts
