#include "vexilo/application/AnalysisCacheLocation.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace vexilo::application {
namespace {

constexpr const char* kAnalysisCacheFolder = "analysis-cache";
constexpr mode_t kPrivateDirectoryMode = S_IRWXU;

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString pathToQString(const std::filesystem::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

std::filesystem::path pathFromQString(const QString& text)
{
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

std::filesystem::path defaultAnalysisCacheRoot()
{
    return pathFromQString(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)) / kAnalysisCacheFolder;
}

std::optional<QString> preparePrivateCacheRoot(const std::filesystem::path& root)
{
    std::error_code error;
    std::filesystem::create_directories(root.parent_path(), error);
    if (error) {
        return QString::fromStdString(error.message());
    }
    if (::mkdir(root.c_str(), kPrivateDirectoryMode) != 0 && errno != EEXIST) {
        return systemText(errno);
    }
    // lstat: a symbolic link planted in place of the root is refused like a foreign directory.
    struct stat status {};
    if (::lstat(root.c_str(), &status) != 0) {
        return systemText(errno);
    }
    const QString rootText = pathToQString(root);
    if (!S_ISDIR(status.st_mode)) {
        return QStringLiteral("%1 is not a directory").arg(rootText);
    }
    if (status.st_uid != ::geteuid()) {
        return QStringLiteral("%1 is owned by another user").arg(rootText);
    }
    if ((status.st_mode & 07777U) != kPrivateDirectoryMode && ::chmod(root.c_str(), kPrivateDirectoryMode) != 0) {
        return systemText(errno);
    }
    return std::nullopt;
}

std::filesystem::path analysisCacheDirectory(const std::filesystem::path& root, const QString& sourcePath)
{
    const QByteArray digest = QCryptographicHash::hash(sourcePath.toUtf8(), QCryptographicHash::Sha256).toHex();
    return root / digest.toStdString();
}

}  // namespace vexilo::application
