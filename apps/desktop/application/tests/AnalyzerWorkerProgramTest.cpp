#include "vexilo/application/AnalyzerWorkerProgram.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace vexilo::application {
namespace {

constexpr auto kName = "vexilo-analyzer-worker";

void makeExecutable(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(AnalyzerWorkerProgramTest, PrefersTheBuiltWorkerThenSearchesInOrder)
{
    QTemporaryDir root;
    const QString application = root.filePath(QStringLiteral("apps/desktop/Debug"));
    QDir().mkpath(application);
    const QString beside = application + QLatin1Char('/') + kName;
    EXPECT_EQ(locateAnalyzerWorkerProgram(application, QString()), beside) << "nothing found: the plain name";

    const QString fourth = root.filePath(QStringLiteral("apps/apps/analyzer-worker/Debug/")) + kName;
    makeExecutable(fourth);
    EXPECT_EQ(locateAnalyzerWorkerProgram(application, QString()), QDir::cleanPath(fourth));
    const QString third = root.filePath(QStringLiteral("apps/analyzer-worker/Debug/")) + kName;
    makeExecutable(third);
    EXPECT_EQ(locateAnalyzerWorkerProgram(application, QString()), QDir::cleanPath(third));
    const QString second = root.filePath(QStringLiteral("apps/desktop/analyzer-worker/")) + kName;
    makeExecutable(second);
    EXPECT_EQ(locateAnalyzerWorkerProgram(application, QString()), QDir::cleanPath(second));
    makeExecutable(beside);
    EXPECT_EQ(locateAnalyzerWorkerProgram(application, QString()), beside);

    const QString built = root.filePath(QStringLiteral("build/worker/")) + kName;
    EXPECT_EQ(locateAnalyzerWorkerProgram(application, built), beside) << "a built path that is gone is skipped";
    makeExecutable(built);
    EXPECT_EQ(locateAnalyzerWorkerProgram(application, built), built);
}

TEST(AnalyzerWorkerProgramTest, SkipsFilesThatCannotRun)
{
    QTemporaryDir root;
    const QString notExecutable = root.filePath(QLatin1String(kName));
    QFile file(notExecutable);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString directoryNamedLikeIt = root.filePath(QStringLiteral("analyzer-worker/") + kName);
    QDir().mkpath(directoryNamedLikeIt);
    EXPECT_EQ(locateAnalyzerWorkerProgram(root.path(), notExecutable), notExecutable);
}

}  // namespace
}  // namespace vexilo::application
