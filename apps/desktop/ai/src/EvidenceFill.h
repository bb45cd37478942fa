#pragma once

#include <QString>

namespace vexilo::ai {

// Fills every placeholder of an evidence line in one pass, so that a "%1" inside a file or
// codec name stays as it is and "%10" is never read as "%1" followed by a digit.
template <typename... Args>
QString fillEvidenceLine(const char* format, const Args&... args)
{
    return QString::fromLatin1(format).arg(args...);
}

}  // namespace vexilo::ai
