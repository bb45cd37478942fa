#include "WorkerTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vexilo::analyzer {
namespace {

using testing::requestLine;
using testing::WorkerProcess;

// One worker driven through a whole scripted conversation; every event's sequence is checked
// to rise by one, whatever its type.
class WorkerSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(directory.isValid());
        QDir root(directory.path());
        ASSERT_TRUE(root.mkpath(QStringLiteral("media/sub")));
        ASSERT_TRUE(root.mkpath(QStringLiteral("cache")));
        for (const char* name : {"media/clip.hevc", "media/CLIP.HEVC", "media/clip.txt", "media/clip.mp4"}) {
            QFile file(root.filePath(QString::fromLatin1(name)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("not really hevc");
        }
        ASSERT_TRUE(QFile::link(root.filePath(QStringLiteral("media/clip.hevc")), root.filePath(QStringLiteral("link.hevc"))));
    }

    QString path(const char* relative) const { return QDir(directory.path()).filePath(QString::fromLatin1(relative)); }
    QString canonical(const char* relative) const { return QFileInfo(path(relative)).canonicalFilePath(); }

    QJsonObject next()
    {
        const QJsonObject event = worker.nextEvent();
        EXPECT_EQ(event.value(QStringLiteral("sequence")).toInteger(), ++expectedSequence)
            << event.value(QStringLiteral("type")).toString().toStdString();
        EXPECT_EQ(event.value(QStringLiteral("protocolVersion")).toInteger(), 3);
        return event;
    }

    // The next event must be this error; returns its payload.
    QJsonObject expectError(const char* requestId, const char* taskId, const char* code)
    {
        const QJsonObject event = next();
        EXPECT_EQ(event.value(QStringLiteral("type")).toString(), QStringLiteral("error"));
        EXPECT_EQ(event.value(QStringLiteral("requestId")).toString().toStdString(), requestId);
        EXPECT_EQ(event.value(QStringLiteral("taskId")).toString().toStdString(), taskId);
        const QJsonObject payload = event.value(QStringLiteral("payload")).toObject();
        EXPECT_EQ(payload.value(QStringLiteral("code")).toString().toStdString(), code);
        return payload;
    }

    QJsonObject expectEvent(const char* type, const char* requestId, const char* taskId)
    {
        const QJsonObject event = next();
        EXPECT_EQ(event.value(QStringLiteral("type")).toString().toStdString(), type);
        EXPECT_EQ(event.value(QStringLiteral("requestId")).toString().toStdString(), requestId);
        EXPECT_EQ(event.value(QStringLiteral("taskId")).toString().toStdString(), taskId);
        EXPECT_EQ(event.contains(QStringLiteral("taskId")), *taskId != '\0');
        return event.value(QStringLiteral("payload")).toObject();
    }

    QTemporaryDir directory;
    WorkerProcess worker{{QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())}};
    qint64 expectedSequence = 0;
};

TEST_F(WorkerSessionTest, HelloGateAndUnusableLines)
{
    worker.send(requestLine("capabilities", "c0", {}, "t0"));
    EXPECT_EQ(expectError("c0", "t0", "protocol.hello_required"),
              (QJsonObject{{"code", "protocol.hello_required"},
                           {"message", "hello must complete before other requests"},
                           {"detail", ""},
                           {"recoverable", true}}));
    worker.send(requestLine("analyze", "a0", {}, "t0"));
    expectError("a0", "t0", "protocol.hello_required");

    worker.send("this is not json\n");
    QJsonObject payload = expectError("invalid-request-1", "", "protocol.invalid_request");
    EXPECT_EQ(payload.value(QStringLiteral("message")).toString(), QStringLiteral("Invalid Analyzer Worker protocol request"));
    EXPECT_TRUE(payload.value(QStringLiteral("detail")).toString().startsWith(QStringLiteral("invalid JSON object: ")));
    EXPECT_FALSE(payload.value(QStringLiteral("recoverable")).toBool(true));
    worker.send("[1]\n");
    expectError("invalid-request-2", "", "protocol.invalid_request");
    worker.send(R"({"protocolVersion":2,"type":"hello","requestId":"v2","payload":{}})" "\n");
    EXPECT_EQ(expectError("v2", "", "protocol.invalid_request").value(QStringLiteral("detail")).toString(),
              QStringLiteral("protocolVersion must be 3"));
    worker.send(R"({"protocolVersion":3,"type":"hello","requestId":"-bad","payload":{}})" "\n");
    expectError("invalid-request-3", "", "protocol.invalid_request");

    worker.send(requestLine("hello", "h1") + requestLine("hello", "h2"));
    const QJsonObject hello = expectEvent("hello", "h1", "");
    EXPECT_EQ(hello, (QJsonObject{{"workerName", "vexilo-analyzer-worker"},
                                  {"protocolVersion", 3},
                                  {"processId", worker.process.processId()},
                                  {"parentProcessId", QCoreApplication::applicationPid()}}));
    expectEvent("hello", "h2", "");

    worker.send(requestLine("capabilities", "c1"));
    const QJsonObject capabilities = expectEvent("capabilities", "c1", "");
    QJsonArray extensions{".hevc", ".h265"};
    if (av_find_input_format("mov") != nullptr) {
        for (const char* extension : {".mp4", ".m4v", ".mov"}) {
            extensions.append(QString::fromLatin1(extension));
        }
    }
    const QJsonObject expected{{"controlledProbe", true},     {"lifecycleObserver", true},
                               {"structureAnalysis", true},   {"nalParameterSetSei", true},
                               {"sliceReferenceState", true}, {"cuData", true},
                               {"puData", true},              {"tuData", true},
                               {"localFrameTransport", false}, {"frameProtocolVersion", 1},
                               {"inputExtensions", extensions}, {"analysisSchemaVersion", 1},
                               {"ffmpegVersion", QString::fromUtf8(av_version_info())},
                               {"avcodecVersion", capabilities.value(QStringLiteral("avcodecVersion"))}};
    EXPECT_EQ(capabilities, expected);
    EXPECT_TRUE(capabilities.value(QStringLiteral("avcodecVersion")).toString().startsWith(
        QString::number(LIBAVCODEC_VERSION_MAJOR) + QLatin1Char('.')));

    worker.send(requestLine("cancel", "k1", {}, "nope"));
    EXPECT_EQ(expectError("k1", "nope", "analyzer.task_not_active").value(QStringLiteral("message")).toString(),
              QStringLiteral("The requested Analyzer task is not active"));
}

struct ValidationCase {
    const char* name;
    QJsonObject payload;  // "@" in a text stands for the test directory
    const char* code;
    const char* message;
    const char* detail;
};

TEST_F(WorkerSessionTest, AnalyzeValidationInOrder)
{
    const QString root = directory.path();
    const auto at = [&root](const char* text) { return QString::fromLatin1(text).replace(QLatin1Char('@'), root); };
    const QString input = at("@/media/clip.hevc");
    const QString cache = at("@/cache");
    const char* kBadTarget = "targetDecodePictureId must be a positive integer";
    const std::vector<ValidationCase> cases{
        {"NoInput", {{"cacheRoot", cache}}, "analyzer.invalid_input", "Analyze requires a non-empty inputPath", ""},
        {"NumericInput", {{"inputPath", 5}, {"cacheRoot", cache}}, "analyzer.invalid_input",
         "Analyze requires a non-empty inputPath", ""},
        {"EmptyInput", {{"inputPath", ""}, {"cacheRoot", cache}}, "analyzer.invalid_input",
         "Analyze requires a non-empty inputPath", ""},
        {"NoCacheRoot", {{"inputPath", input}}, "analyzer.invalid_cache_root", "Analyze requires a non-empty cacheRoot",
         ""},
        {"NullMode", {{"inputPath", input}, {"cacheRoot", cache}, {"analysisMode", QJsonValue()}},
         "analyzer.invalid_mode", "analysisMode must be a non-empty string when present", ""},
        {"EmptyMode", {{"inputPath", input}, {"cacheRoot", cache}, {"analysisMode", ""}}, "analyzer.invalid_mode",
         "analysisMode must be a non-empty string when present", ""},
        {"UpperCaseMode", {{"inputPath", input}, {"cacheRoot", cache}, {"analysisMode", "STREAM_INDEX"}},
         "analyzer.unsupported_mode", "Unsupported analysisMode", "STREAM_INDEX"},
        {"ZeroTarget", {{"inputPath", input}, {"cacheRoot", cache}, {"targetDecodePictureId", 0}},
         "analyzer.invalid_target_picture", kBadTarget, ""},
        {"NegativeTarget", {{"inputPath", input}, {"cacheRoot", cache}, {"targetDecodePictureId", -3}},
         "analyzer.invalid_target_picture", kBadTarget, ""},
        {"TextTarget", {{"inputPath", input}, {"cacheRoot", cache}, {"targetDecodePictureId", "4"}},
         "analyzer.invalid_target_picture", kBadTarget, ""},
        {"NullTarget", {{"inputPath", input}, {"cacheRoot", cache}, {"targetDecodePictureId", QJsonValue()}},
         "analyzer.invalid_target_picture", kBadTarget, ""},
        {"PictureStructureWithoutTarget", {{"inputPath", input}, {"cacheRoot", cache}, {"analysisMode", "picture_structure"}},
         "analyzer.invalid_target_picture", "picture_structure analysis requires targetDecodePictureId", ""},
        {"PictureStructureFractionalTarget",
         {{"inputPath", input}, {"cacheRoot", cache}, {"analysisMode", "picture_structure"}, {"targetDecodePictureId", 2.5}},
         "analyzer.invalid_target_picture", "picture_structure analysis requires targetDecodePictureId", ""},
        {"RelativeInput", {{"inputPath", "media/clip.hevc"}, {"cacheRoot", cache}}, "analyzer.invalid_input",
         "Input must be an absolute, readable local file", ""},
        {"MissingInput", {{"inputPath", at("@/media/none.hevc")}, {"cacheRoot", cache}}, "analyzer.invalid_input",
         "Input must be an absolute, readable local file", "@/media/none.hevc"},
        {"DirectoryInput", {{"inputPath", at("@/media/sub")}, {"cacheRoot", cache}}, "analyzer.invalid_input",
         "Input must be an absolute, readable local file", "@/media/sub"},
        {"TextInput", {{"inputPath", at("@/media/clip.txt")}, {"cacheRoot", cache}}, "analyzer.unsupported_input",
         "Only .hevc, .h265, .mp4, .m4v, and .mov HEVC inputs are supported", "@/media/clip.txt"},
        {"RelativeCacheRoot", {{"inputPath", input}, {"cacheRoot", "cache"}}, "analyzer.invalid_cache_root",
         "Cache root must be an existing readable and writable directory", ""},
        {"FileAsCacheRoot", {{"inputPath", input}, {"cacheRoot", input}}, "analyzer.invalid_cache_root",
         "Cache root must be an existing readable and writable directory", "@/media/clip.hevc"},
        {"MissingCacheRoot", {{"inputPath", input}, {"cacheRoot", at("@/nowhere")}}, "analyzer.invalid_cache_root",
         "Cache root must be an existing readable and writable directory", "@/nowhere"},
    };

    worker.send(requestLine("hello", "h1"));
    next();
    for (const ValidationCase& c : cases) {
        SCOPED_TRACE(c.name);
        worker.send(requestLine("analyze", "a1", c.payload, "t1"));
        const QJsonObject payload = expectError("a1", "t1", c.code);
        EXPECT_EQ(payload.value(QStringLiteral("message")).toString().toStdString(), c.message);
        const QString detail = payload.value(QStringLiteral("detail")).toString();
        if (QByteArray(c.name).startsWith("Relative")) {
            // The absolute form of a relative path depends on the worker's working directory.
            EXPECT_TRUE(QFileInfo(detail).isAbsolute() || detail.isEmpty());
        } else {
            EXPECT_EQ(detail, at(c.detail));
        }
        EXPECT_TRUE(payload.value(QStringLiteral("recoverable")).toBool(false));
    }
}

TEST_F(WorkerSessionTest, AcceptedAnalyzeReportsCanonicalPathsAndEndsOnce)
{
    worker.send(requestLine("hello", "h1"));
    next();
    const QJsonObject request{{"inputPath", path("media/sub/../../link.hevc")},
                              {"cacheRoot", path("media/../cache/.")},
                              {"targetDecodePictureId", 3}};
    worker.send(requestLine("analyze", "a1", request, "t1"));
    EXPECT_EQ(expectEvent("analysisStarted", "a1", "t1"),
              (QJsonObject{{"inputPath", canonical("media/clip.hevc")},
                           {"cacheRoot", canonical("cache")},
                           {"mode", "stream_index"},
                           {"targetDecodePictureId", 3}}));
    // The input is no stream, so whatever analysis runs ends the task with one error event.
    const QJsonObject failure = expectEvent("error", "a1", "t1");
    EXPECT_TRUE(failure.value(QStringLiteral("recoverable")).toBool(false));
    EXPECT_TRUE(failure.value(QStringLiteral("code")).toString().startsWith(QStringLiteral("analyzer.")));

    // An upper-case suffix is accepted too.
    worker.send(requestLine("analyze", "a2", {{"inputPath", path("media/CLIP.HEVC")}, {"cacheRoot", path("cache")}}, "t2"));
    expectEvent("analysisStarted", "a2", "t2");
    expectEvent("error", "a2", "t2");

    // A task that failed is not remembered as canceled.
    worker.send(requestLine("cancel", "k1", {}, "t1"));
    expectError("k1", "t1", "analyzer.task_not_active");
}

TEST_F(WorkerSessionTest, BusyCancelAndDeferredShutdown)
{
    const QJsonObject request{{"inputPath", path("media/clip.hevc")}, {"cacheRoot", path("cache")}};
    worker.send(requestLine("hello", "h1"));
    next();

    // Lines of one write are handled in one tick, before the task can report its end.
    worker.send(requestLine("analyze", "a1", request, "t1") + requestLine("analyze", "a2", request, "t2") +
                requestLine("cancel", "k1", {}, "t1") + requestLine("cancel", "k2", {}, "t1"));
    expectEvent("analysisStarted", "a1", "t1");
    const QJsonObject busy = expectError("a2", "t2", "analyzer.busy");
    EXPECT_EQ(busy.value(QStringLiteral("message")).toString(), QStringLiteral("Analyzer Worker already has an active task"));
    EXPECT_EQ(busy.value(QStringLiteral("detail")).toString(), QStringLiteral("t1"));
    EXPECT_EQ(expectEvent("cancelAcknowledged", "k1", "t1"), (QJsonObject{{"alreadyRequested", false}}));
    EXPECT_EQ(expectEvent("cancelAcknowledged", "k2", "t1"), (QJsonObject{{"alreadyRequested", true}}));
    EXPECT_EQ(expectEvent("analysisCanceled", "a1", "t1"), (QJsonObject{{"reason", "requested"}}));
    worker.send(requestLine("cancel", "k3", {}, "t1"));
    EXPECT_EQ(expectEvent("cancelAcknowledged", "k3", "t1"), (QJsonObject{{"alreadyRequested", true}}));

    worker.send(requestLine("analyze", "a3", request, "t3") + requestLine("shutdown", "s1") +
                requestLine("shutdown", "s2") + requestLine("analyze", "a4", request, "t4"));
    expectEvent("analysisStarted", "a3", "t3");
    EXPECT_EQ(expectError("s2", "", "analyzer.shutdown_pending").value(QStringLiteral("message")).toString(),
              QStringLiteral("Analyzer Worker shutdown is already pending"));
    EXPECT_EQ(expectError("a4", "t4", "analyzer.shutting_down").value(QStringLiteral("message")).toString(),
              QStringLiteral("Analyzer Worker is shutting down"));
    EXPECT_EQ(expectEvent("analysisCanceled", "a3", "t3"), (QJsonObject{{"reason", "shutdown"}}));
    EXPECT_EQ(expectEvent("shutdownAcknowledged", "s1", ""), (QJsonObject{{"accepted", true}}));
    EXPECT_EQ(worker.waitForExit(), 0);
}

TEST_F(WorkerSessionTest, ShutdownBeforeHelloIsAcknowledged)
{
    worker.send(requestLine("shutdown", "s1"));
    expectEvent("shutdownAcknowledged", "s1", "");
    EXPECT_EQ(worker.waitForExit(), 0);
}

}  // namespace
}  // namespace vexilo::analyzer
