#pragma once

// Documents written by the real analyzer worker: the worker binary runs over its pipes
// on a stream, writes its cache directory, and the cache is read back and merged per
// picture the way the desktop hands a picture's analysis to its models.

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/analysis/cache/CachePayload.h"
#include "vexilo/analysis/cache/CacheReader.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <filesystem>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace vexilo::test {

// The stream-level document and the merged document of every picture, in manifest order.
struct WorkerAnalysis {
    analysis::StreamAnalysis stream;
    std::vector<analysis::StreamAnalysis> pictures;
    QString error;  // empty when the analysis was read back
};

inline QByteArray workerRequest(const char* type, const char* requestId, const QJsonObject& payload = {})
{
    const QJsonObject object{{"protocolVersion", 3}, {"type", type}, {"requestId", requestId},
                             {"taskId", "syntax"}, {"payload", payload}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// The picture document with the stream-wide parameter sets, SEI and NAL units it needs.
inline analysis::StreamAnalysis mergedPictureDocument(const analysis::StreamAnalysis& stream,
                                                      const analysis::StreamAnalysis& picture)
{
    analysis::StreamAnalysis merged = picture;
    std::set<analysis::StableId> pictureNalUnits;
    for (const analysis::NalUnitInfo& unit : picture.nalUnits) {
        pictureNalUnits.insert(unit.id);
    }
    merged.nalUnits.clear();
    std::set<analysis::StableId> kept;
    for (const analysis::NalUnitInfo& unit : stream.nalUnits) {
        const auto kind = static_cast<unsigned>(unit.kind);
        const bool streamWide = (kind >= 1 && kind <= 3) || ((kind == 5 || kind == 6) && !unit.pictureId);
        if (streamWide || pictureNalUnits.contains(unit.id)) {
            merged.nalUnits.push_back(unit);
            kept.insert(unit.id);
        }
    }
    for (const analysis::NalUnitInfo& unit : picture.nalUnits) {
        if (!kept.contains(unit.id)) {
            merged.nalUnits.push_back(unit);
        }
    }
    merged.parameterSets = stream.parameterSets;
    std::set<analysis::StableId> pictureMessages;
    for (const analysis::SeiMessageInfo& message : picture.seiMessages) {
        pictureMessages.insert(message.id);
    }
    merged.seiMessages.clear();
    for (const analysis::SeiMessageInfo& message : stream.seiMessages) {
        if (!message.pictureId && !pictureMessages.contains(message.id)) {
            merged.seiMessages.push_back(message);
        }
    }
    merged.seiMessages.insert(merged.seiMessages.end(), picture.seiMessages.begin(), picture.seiMessages.end());
    return merged;
}

inline bool runWorker(const std::filesystem::path& input, const std::filesystem::path& cacheRoot, QString& error)
{
    QProcess worker;
    worker.start(QStringLiteral(VEXILO_WORKER_EXECUTABLE),
                 {QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())});
    if (!worker.waitForStarted(10000)) {
        error = QStringLiteral("worker did not start");
        return false;
    }
    worker.write(workerRequest("hello", "h1"));
    worker.write(workerRequest("analyze", "a1",
                               {{"inputPath", QString::fromStdString(input.string())},
                                {"cacheRoot", QString::fromStdString(cacheRoot.string())},
                                {"analysisMode", "stream_index"}}));
    QByteArray output;
    const QDeadlineTimer deadline(180000);
    while (!deadline.hasExpired()) {
        worker.waitForReadyRead(100);
        output += worker.readAllStandardOutput();
        if (output.contains("\"analysisFinished\"")) {
            worker.kill();
            worker.waitForFinished(5000);
            return true;
        }
        if (output.contains("\"type\":\"error\"") || worker.state() == QProcess::NotRunning) {
            break;
        }
    }
    error = QStringLiteral("worker did not finish: ") + QString::fromUtf8(output.right(600));
    worker.kill();
    worker.waitForFinished(5000);
    return false;
}

inline WorkerAnalysis analyseWithWorker(const std::filesystem::path& input)
{
    WorkerAnalysis result;
    QTemporaryDir scratch;
    const std::filesystem::path scratchPath(scratch.path().toStdString());
    const std::filesystem::path cacheRoot = scratchPath / "cache";
    std::filesystem::create_directory(cacheRoot);
    // The worker takes elementary streams by their usual extensions only (the HM streams are ".bit").
    const std::filesystem::path elementary = scratchPath / (input.stem().string() + ".hevc");
    std::error_code copyError;
    std::filesystem::copy_file(input, elementary, copyError);
    if (copyError) {
        result.error = QString::fromStdString("cannot copy " + input.string() + ": " + copyError.message());
        return result;
    }
    if (!runWorker(elementary, cacheRoot, result.error)) {
        return result;
    }
    const auto manifest = analysis::openAnalysisCache(cacheRoot);
    if (const auto* failure = std::get_if<analysis::CacheError>(&manifest)) {
        result.error = QString::fromStdString("manifest: " + failure->message);
        return result;
    }
    const auto& entries = std::get<analysis::CacheManifest>(manifest);
    const auto contents = analysis::readCacheFile(cacheRoot / entries.streamPath, analysis::kStreamMetaMagic);
    if (const auto* failure = std::get_if<analysis::CacheError>(&contents)) {
        result.error = QString::fromStdString("stream file: " + failure->message);
        return result;
    }
    auto stream = analysis::decodeCachedAnalysisPayload(std::get<analysis::CacheFileContents>(contents).payload,
                                                        cacheRoot / entries.streamPath);
    if (const auto* failure = std::get_if<analysis::CacheError>(&stream)) {
        result.error = QString::fromStdString("stream document: " + failure->message);
        return result;
    }
    result.stream = std::move(std::get<analysis::StreamAnalysis>(stream));
    for (const analysis::ManifestPictureEntry& entry : entries.pictures) {
        const auto picture = analysis::readCachedPicture(cacheRoot, entry);
        if (const auto* failure = std::get_if<analysis::CacheError>(&picture)) {
            result.error = QString::fromStdString("picture: " + failure->message);
            return result;
        }
        result.pictures.push_back(mergedPictureDocument(result.stream, std::get<analysis::StreamAnalysis>(picture)));
    }
    return result;
}

}  // namespace vexilo::test
