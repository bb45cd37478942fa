#include "vexilo/application/AnalyzerWorkerProgram.h"

#include <QDir>
#include <QFileInfo>

#include <array>

namespace vexilo::application {
namespace {

constexpr auto kWorkerExecutableName = "vexilo-analyzer-worker";
constexpr auto kTunablesVariable = "GLIBC_TUNABLES";
constexpr auto kHugePageHeapTunable = "glibc.malloc.hugetlb";
constexpr auto kHugePageHeapValue = "1";
constexpr QChar kTunableSeparator = QLatin1Char(':');

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

}  // namespace

QString locateAnalyzerWorkerProgram(const QString& applicationDirectory, const QString& builtWorkerPath)
{
    if (!builtWorkerPath.isEmpty() && isExecutableFile(builtWorkerPath)) {
        return QFileInfo(builtWorkerPath).absoluteFilePath();
    }
    const QString name = QString::fromLatin1(kWorkerExecutableName);
    const QString directory = QDir::cleanPath(applicationDirectory);
    const QString lastComponent = QFileInfo(directory).fileName();
    const std::array candidates{
        directory + QLatin1Char('/') + name,
        directory + QStringLiteral("/../analyzer-worker/") + name,
        directory + QStringLiteral("/../../analyzer-worker/") + lastComponent + QLatin1Char('/') + name,
        directory + QStringLiteral("/../../apps/analyzer-worker/") + lastComponent + QLatin1Char('/') + name,
    };
    for (const QString& candidate : candidates) {
        const QString cleaned = QDir::cleanPath(candidate);
        if (isExecutableFile(cleaned)) {
            return QFileInfo(cleaned).absoluteFilePath();
        }
    }
    return candidates.front();
}

QProcessEnvironment analyzerWorkerEnvironment(const QProcessEnvironment& desktop)
{
    QProcessEnvironment environment = desktop;
    const QString variable = QString::fromLatin1(kTunablesVariable);
    const QString tunables = environment.value(variable);
    const QString assignmentPrefix = QString::fromLatin1(kHugePageHeapTunable) + QLatin1Char('=');
    for (const QString& tunable : tunables.split(kTunableSeparator, Qt::SkipEmptyParts)) {
        if (tunable.startsWith(assignmentPrefix)) {
            return environment;
        }
    }
    const QString setting = assignmentPrefix + QString::fromLatin1(kHugePageHeapValue);
    environment.insert(variable, tunables.isEmpty() ? setting : tunables + kTunableSeparator + setting);
    return environment;
}

}  // namespace vexilo::application
