#pragma once

// Failure texts that more than one part of the cache raises.

namespace vexilo::analysis::cachetexts {

inline constexpr const char* kDirectoryEmpty = "cache directory is empty";
inline constexpr const char* kDirectoryNotCreated = "cache directory could not be created: ";
inline constexpr const char* kDirectoryNotLocked = "cache directory could not be locked: ";
inline constexpr const char* kCancelledBeforeStart = "cache write cancelled before start";

}  // namespace vexilo::analysis::cachetexts
