#pragma once

#include <QString>

#include <filesystem>
#include <optional>

namespace vexilo::application {

// The analysis cache root when none is configured: under the per-user cache location, so that
// no other local user can plant or read a source's analysis.
[[nodiscard]] std::filesystem::path defaultAnalysisCacheRoot();

// Creates the root (and its missing parents) and leaves it a directory of this user with mode
// 0700. Returns the reason when the root cannot be made private: a root owned by another user,
// or one that is not a directory, is refused rather than used.
[[nodiscard]] std::optional<QString> preparePrivateCacheRoot(const std::filesystem::path& root);

// The root joined with the SHA-256 of the source path's own text (UTF-8, 64 lower-case hex
// digits). The path is not normalised: two texts naming one file get two directories.
[[nodiscard]] std::filesystem::path analysisCacheDirectory(const std::filesystem::path& root,
                                                           const QString& sourcePath);

// A path as Qt shows it, and back.
[[nodiscard]] QString pathToQString(const std::filesystem::path& path);
[[nodiscard]] std::filesystem::path pathFromQString(const QString& text);

}  // namespace vexilo::application
