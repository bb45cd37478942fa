#pragma once

#include <QString>

#include <filesystem>
#include <string>

namespace vexilo::media {

// Paths cross between the GUI and the media layer through UTF-8, never through the
// process locale, so that non-ASCII file names survive a "C" locale.
[[nodiscard]] std::filesystem::path pathFromQString(const QString& text);
[[nodiscard]] QString pathToQString(const std::filesystem::path& path);
[[nodiscard]] std::string pathToUtf8(const std::filesystem::path& path);

}  // namespace vexilo::media
