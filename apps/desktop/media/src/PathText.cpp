#include "vexilo/media/PathText.h"

#include <QByteArray>

namespace vexilo::media {

std::filesystem::path pathFromQString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.constData()),
                                               static_cast<std::size_t>(utf8.size())));
}

std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

QString pathToQString(const std::filesystem::path& path) {
    const std::string utf8 = pathToUtf8(path);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace vexilo::media
