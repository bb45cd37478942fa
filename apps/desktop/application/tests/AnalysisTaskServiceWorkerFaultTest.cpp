// The task service against workers that misbehave on purpose: a forged stream-document path,
// a finish without one, a crash while idle.

#include "TaskServiceRecorder.h"
#include "vexilo/application/AnalysisCacheLocation.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

namespace vexilo::application {
namespace {

using test::TaskServiceRecorder;

class AnalysisTaskServiceWorkerFaultTest : public ::testing::Test {
protected:
    std::filesystem::path rootPath() const { return pathFromQString(root_.path()); }

    AnalysisTaskServiceOptions options(const char* program, QStringList arguments) const
    {
        AnalysisTaskServiceOptions result;
        result.worker.workerProgram = QString::fromLatin1(program);
        result.worker.workerArguments = std::move(arguments);
        result.cacheRoot = rootPath() / "cache-root";
        return result;
    }

    QTemporaryDir root_;
};

TEST_F(AnalysisTaskServiceWorkerFaultTest, AForgedStreamDocumentPathNeverBecomesWhatClearingDeletes)
{
    const std::filesystem::path home = rootPath() / "home";
    std::filesystem::create_directories(home);
    std::ofstream(home / "notes.txt") << "keep me";
    const QString forged = pathToQString(home / "stream.vxmeta");

    AnalysisTaskService service(nullptr, options(VEXILO_FORGING_WORKER_EXECUTABLE,
                                                 {QStringLiteral("--metadata-path"), forged}));
    TaskServiceRecorder recorder(service);
    service.startAnalysis(QStringLiteral("/streams/clip.hevc"), false);
    const std::filesystem::path computed = service.cacheDirectory();
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.has("analysisFinished"); }));
    EXPECT_EQ(service.cacheDirectory(), computed);
    // The load reads the computed directory, where this worker wrote nothing.
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return !recorder.errors.empty(); }));
    EXPECT_EQ(recorder.errors[0].code, "analysis_cache.io_error");

    service.clearCache();
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.has("cacheCleared"); }));
    EXPECT_FALSE(std::filesystem::exists(computed));
    EXPECT_TRUE(std::filesystem::exists(home / "notes.txt"));
    service.shutdown();
}

TEST_F(AnalysisTaskServiceWorkerFaultTest, AFinishWithoutAStreamDocumentIsAnErrorBeforeTheFinish)
{
    AnalysisTaskService service(nullptr, options(VEXILO_FAKE_WORKER_EXECUTABLE, {}));
    TaskServiceRecorder recorder(service);
    service.startAnalysis(QStringLiteral("/streams/clip.hevc"), false);
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.has("analysisFinished"); }));
    ASSERT_EQ(recorder.errors.size(), 1U);
    EXPECT_EQ(recorder.errors[0].code, "analyzer.metadata_missing");
    EXPECT_EQ(recorder.errors[0].message, "Analyzer Worker finished without analysis cache");
    EXPECT_EQ(recorder.errors[0].detail,
              "analysisFinished did not include metadataPath; Repository load was not started");
    const std::vector<QString> order{"analysisStarted", "analysisError", "analysisFinished"};
    EXPECT_EQ(recorder.distinctOrder(), order);
    EXPECT_EQ(recorder.frames.size(), 3U) << "frames pass through as decodedFrameReceived";
    EXPECT_FALSE(service.isBusy());
    service.shutdown();
}

TEST_F(AnalysisTaskServiceWorkerFaultTest, AWorkerCrashWhileIdleIsStillReported)
{
    AnalysisTaskService service(nullptr, options(VEXILO_FAKE_WORKER_EXECUTABLE,
                                                 {QStringLiteral("--script"), QStringLiteral("crash")}));
    TaskServiceRecorder recorder(service);
    service.startAnalysis(QStringLiteral("/streams/clip.hevc"), false);
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return !recorder.errors.empty(); }));
    EXPECT_FALSE(recorder.errors[0].code.isEmpty());
    EXPECT_FALSE(service.isBusy()) << "the pending analysis ends with the worker";
    service.shutdown();
}

TEST_F(AnalysisTaskServiceWorkerFaultTest, AProtocolDefectEndsTheRunningAnalysisOnceAndTheNextOneRuns)
{
    // Mid-run the defect is the last thing the worker says; at the end it comes with the end line.
    for (const char* script : {"bad_frame_mid", "invalid_line_mid", "bad_frame", "repeat_sequence_end"}) {
        SCOPED_TRACE(script);
        AnalysisTaskService service(nullptr, options(VEXILO_FAKE_WORKER_EXECUTABLE,
                                                     {QStringLiteral("--script"), QLatin1String(script)}));
        TaskServiceRecorder recorder(service);
        service.startAnalysis(QStringLiteral("/streams/clip.hevc"), false);
        ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return !recorder.errors.empty(); }));
        QTest::qWait(300);  // the killed worker's end must not add a second report
        ASSERT_EQ(recorder.errors.size(), 1U) << recorder.firstErrorText().toStdString();
        EXPECT_EQ(recorder.errors[0].code, "worker.protocol_error");
        EXPECT_FALSE(recorder.errors[0].pictureId);
        EXPECT_FALSE(service.isBusy());
        EXPECT_FALSE(recorder.has(QStringLiteral("analysisFinished")));

        service.startAnalysis(QStringLiteral("/streams/clip.hevc"), false);
        EXPECT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.taskIds.size() == 2; }))
            << "the next analysis starts a new worker";
        service.shutdown();
    }
}

}  // namespace
}  // namespace vexilo::application
