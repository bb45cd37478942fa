#include "AnalyzedStreamFixture.h"

#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CachePayload.h"
#include "vexilo/analysis/cache/CacheReader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace vexilo::test {
namespace {

constexpr int kAnalysisTimeoutMs = 300'000;

QByteArray requestLine(const char* type, const char* requestId, const QJsonObject& payload, const char* taskId) {
    QJsonObject object{{"protocolVersion", 3}, {"type", type}, {"requestId", requestId}, {"payload", payload}};
    if (taskId != nullptr) {
        object.insert(QStringLiteral("taskId"), QString::fromLatin1(taskId));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Reads event lines until one ends the analysis; returns its type, or why none came.
QString waitForAnalysisEnd(QProcess& worker) {
    QByteArray pending;
    QDeadlineTimer deadline(kAnalysisTimeoutMs);
    while (!deadline.hasExpired()) {
        if (!worker.waitForReadyRead(250) && worker.state() == QProcess::NotRunning) {
            return QStringLiteral("worker ended");
        }
        pending += worker.readAllStandardOutput();
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QJsonObject event = QJsonDocument::fromJson(pending.first(end)).object();
            pending.remove(0, end + 1);
            const QString type = event.value(QStringLiteral("type")).toString();
            if (type == QStringLiteral("analysisFinished")) {
                return type;
            }
            if (type == QStringLiteral("analysisCanceled") || type == QStringLiteral("error")) {
                return QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
            }
        }
    }
    return QStringLiteral("time-out");
}

std::variant<AnalyzedStream, std::string> readCache(const std::filesystem::path& directory) {
    const auto manifest = analysis::openAnalysisCache(directory);
    if (const auto* error = std::get_if<analysis::CacheError>(&manifest)) {
        return "manifest: " + error->message;
    }
    const auto& entries = std::get<analysis::CacheManifest>(manifest);
    const auto contents = analysis::readCacheFile(directory / entries.streamPath, analysis::kStreamMetaMagic);
    if (const auto* error = std::get_if<analysis::CacheError>(&contents)) {
        return "stream file: " + error->message;
    }
    auto stream = analysis::decodeCachedAnalysisPayload(std::get<analysis::CacheFileContents>(contents).payload,
                                                        directory / entries.streamPath);
    if (const auto* error = std::get_if<analysis::CacheError>(&stream)) {
        return "stream document: " + error->message;
    }
    AnalyzedStream analyzed;
    analyzed.stream = std::make_shared<const analysis::StreamAnalysis>(std::move(std::get<analysis::StreamAnalysis>(stream)));
    for (const analysis::ManifestPictureEntry& entry : entries.pictures) {
        auto picture = analysis::readCachedPicture(directory, entry);
        if (const auto* error = std::get_if<analysis::CacheError>(&picture)) {
            return "picture " + entry.path.string() + ": " + error->message;
        }
        analyzed.pictures.push_back(
            std::make_shared<const analysis::StreamAnalysis>(std::move(std::get<analysis::StreamAnalysis>(picture))));
        analyzed.pictureIds.push_back(entry.stableId);
    }
    return analyzed;
}

}  // namespace

std::variant<AnalyzedStream, std::string> analyzeWithWorker(const std::filesystem::path& input,
                                                            const std::filesystem::path& workDirectory,
                                                            const char* analysisMode, int targetDecodePictureId) {
    // The worker takes HEVC files by their extension; reference streams end in ".bit".
    std::filesystem::path analysedInput = input;
    if (input.extension() == ".bit") {
        analysedInput = workDirectory / (input.stem().string() + ".hevc");
        std::filesystem::copy_file(input, analysedInput, std::filesystem::copy_options::overwrite_existing);
    }
    const std::filesystem::path cacheDirectory = workDirectory / "cache";
    std::filesystem::create_directories(cacheDirectory);
    QProcess worker;
    worker.start(QStringLiteral(VEXILO_WORKER_EXECUTABLE),
                 {QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())});
    if (!worker.waitForStarted(10'000)) {
        return std::string("worker did not start");
    }
    QJsonObject payload{{"inputPath", QString::fromStdString(analysedInput.string())},
                        {"cacheRoot", QString::fromStdString(cacheDirectory.string())},
                        {"analysisMode", QString::fromLatin1(analysisMode)}};
    if (targetDecodePictureId > 0) {
        payload.insert(QStringLiteral("targetDecodePictureId"), targetDecodePictureId);
    }
    worker.write(requestLine("hello", "h1", {}, nullptr));
    worker.write(requestLine("analyze", "a1", payload, "t1"));
    const QString end = waitForAnalysisEnd(worker);
    worker.write(requestLine("shutdown", "s1", {}, nullptr));
    if (!worker.waitForFinished(5'000)) {
        worker.kill();
        worker.waitForFinished(5'000);
    }
    if (end != QStringLiteral("analysisFinished")) {
        return "analysis did not finish: " + end.toStdString();
    }
    return readCache(cacheDirectory);
}

std::filesystem::path generatedStream(const char* name) {
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name;
}

std::filesystem::path referenceStream(const char* name) {
    return std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm" / name;
}

}  // namespace vexilo::test
