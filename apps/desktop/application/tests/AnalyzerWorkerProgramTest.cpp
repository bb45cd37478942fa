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

// The worker asks glibc for huge pages behind its heap, and keeps whatever else the desktop's
// environment tunes, the same tunable set otherwise included.
TEST(AnalyzerWorkerProgramTest, TheWorkerRunsWithItsHeapOnHugePagesUnlessTheDesktopSaysOtherwise)
{
    const auto tunablesOf = [](const QString& desktopTunables) {
        QProcessEnvironment desktop;
        desktop.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin"));
        if (!desktopTunables.isNull()) {
            desktop.insert(QStringLiteral("GLIBC_TUNABLES"), desktopTunables);
        }
        const QProcessEnvironment worker = analyzerWorkerEnvironment(desktop);
        EXPECT_EQ(worker.value(QStringLiteral("PATH")), QStringLiteral("/usr/bin"));
        return worker.value(QStringLiteral("GLIBC_TUNABLES"));
    };
    EXPECT_EQ(tunablesOf(QString()), QStringLiteral("glibc.malloc.hugetlb=1"));
    EXPECT_EQ(tunablesOf(QStringLiteral("")), QStringLiteral("glibc.malloc.hugetlb=1"));
    EXPECT_EQ(tunablesOf(QStringLiteral("glibc.malloc.arena_max=2")),
              QStringLiteral("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"));
    EXPECT_EQ(tunablesOf(QStringLiteral("glibc.malloc.hugetlb=0")), QStringLiteral("glibc.malloc.hugetlb=0"));
    EXPECT_EQ(tunablesOf(QStringLiteral("glibc.malloc.check=0:glibc.malloc.hugetlb=2")),
              QStringLiteral("glibc.malloc.check=0:glibc.malloc.hugetlb=2"));
    EXPECT_EQ(tunablesOf(QStringLiteral("glibc.malloc.hugetlbx=1")),
              QStringLiteral("glibc.malloc.hugetlbx=1:glibc.malloc.hugetlb=1"));
}

}  // namespace
}  // namespace vexilo::application
