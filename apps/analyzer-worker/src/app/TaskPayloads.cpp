#include "app/TaskPayloads.h"

#include "vexilo/protocol/ProtocolMessage.h"

#include <QJsonValue>

#include <array>

namespace vexilo::analyzer {
namespace {

namespace payload_key = protocol::payload_key;

namespace key {
constexpr QLatin1StringView codecName{"codecName"};
constexpr QLatin1StringView width{"width"};
constexpr QLatin1StringView height{"height"};
constexpr QLatin1StringView bitDepth{"bitDepth"};
constexpr QLatin1StringView pixelFormat{"pixelFormat"};
constexpr QLatin1StringView pictureCount{"pictureCount"};
constexpr QLatin1StringView analysisMode{"analysisMode"};
constexpr QLatin1StringView targetDecodePictureId{"targetDecodePictureId"};
constexpr QLatin1StringView structuresEmitted{"structuresEmitted"};
constexpr QLatin1StringView probeCompleted{"probeCompleted"};
constexpr QLatin1StringView ctuCount{"ctuCount"};
constexpr QLatin1StringView cuCount{"cuCount"};
constexpr QLatin1StringView puCount{"puCount"};
constexpr QLatin1StringView tuCount{"tuCount"};
constexpr QLatin1StringView cuDataProduced{"cuDataProduced"};
constexpr QLatin1StringView puDataProduced{"puDataProduced"};
constexpr QLatin1StringView tuDataProduced{"tuDataProduced"};
constexpr QLatin1StringView picturesWithBlocks{"picturesWithBlocks"};
constexpr QLatin1StringView code{"code"};
constexpr QLatin1StringView message{"message"};
constexpr QLatin1StringView detail{"detail"};
constexpr QLatin1StringView ffmpegCode{"ffmpegCode"};
constexpr QLatin1StringView recoverable{"recoverable"};
constexpr QLatin1StringView canceled{"canceled"};
constexpr QLatin1StringView reason{"reason"};
}  // namespace key

constexpr auto kProbeExceptionCode = "analyzer.probe_exception";
constexpr auto kProbeExceptionMessage = "FFmpeg probe raised an exception";
constexpr auto kUnknownProbeExceptionMessage = "FFmpeg probe raised an unknown exception";
constexpr QLatin1StringView kShutdownReason{"shutdown"};
constexpr QLatin1StringView kRequestedReason{"requested"};

struct CollectionCount {
    QLatin1StringView key;
    std::uint64_t AnalyzerRunResult::*member;
    bool isStructure;  // counted in "structuresEmitted" and carried into "analysisFinished"
};

constexpr std::array kCollectionCounts{
    CollectionCount{QLatin1StringView("nalUnitCount"), &AnalyzerRunResult::nalUnitCount, true},
    CollectionCount{QLatin1StringView("parameterSetCount"), &AnalyzerRunResult::parameterSetCount, true},
    CollectionCount{QLatin1StringView("seiMessageCount"), &AnalyzerRunResult::seiMessageCount, true},
    CollectionCount{QLatin1StringView("sliceCount"), &AnalyzerRunResult::sliceCount, true},
    CollectionCount{QLatin1StringView("shortTermReferenceCount"), &AnalyzerRunResult::shortTermReferenceCount, true},
    CollectionCount{QLatin1StringView("longTermReferenceCount"), &AnalyzerRunResult::longTermReferenceCount, true},
    CollectionCount{QLatin1StringView("referenceListEntryCount"), &AnalyzerRunResult::referenceListEntryCount, true},
    CollectionCount{QLatin1StringView("dpbSnapshotEntryCount"), &AnalyzerRunResult::dpbSnapshotEntryCount, true},
    CollectionCount{QLatin1StringView("decodedPictureCount"), &AnalyzerRunResult::decodedPictureCount, false},
    CollectionCount{key::ctuCount, &AnalyzerRunResult::ctuCount, true},
    CollectionCount{key::cuCount, &AnalyzerRunResult::cuCount, true},
    CollectionCount{key::puCount, &AnalyzerRunResult::puCount, true},
    CollectionCount{key::tuCount, &AnalyzerRunResult::tuCount, true},
    CollectionCount{QLatin1StringView("motionVectorCount"), &AnalyzerRunResult::motionVectorCount, true},
};

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString pathText(const std::filesystem::path& path)
{
    return QString::fromStdU16String(path.u16string());
}

qint64 asInteger(std::uint64_t count)
{
    return static_cast<qint64>(count);
}

}  // namespace

QJsonObject buildProbeResultPayload(const AnalyzerRunResult& result)
{
    QJsonObject payload;
    payload.insert(key::codecName, fromUtf8(result.codecName));
    payload.insert(key::width, result.width);
    payload.insert(key::height, result.height);
    payload.insert(key::bitDepth, result.bitDepth);
    payload.insert(key::pixelFormat, fromUtf8(result.pixelFormat));
    payload.insert(key::pictureCount,
                   result.pictureCount < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(static_cast<qint64>(result.pictureCount)));
    return payload;
}

QJsonObject buildSuccessPayload(const AnalyzerRunResult& result, const QString& modeName,
                                std::uint64_t targetDecodePictureId)
{
    QJsonObject payload = buildProbeResultPayload(result);
    payload.insert(key::analysisMode, modeName);
    payload.insert(key::targetDecodePictureId, asInteger(targetDecodePictureId));
    payload.insert(payload_key::metadataPath, pathText(result.metadataPath));
    std::uint64_t structures = 0;
    for (const CollectionCount& count : kCollectionCounts) {
        const std::uint64_t value = result.*count.member;
        payload.insert(count.key, asInteger(value));
        structures += count.isStructure ? value : 0;
    }
    payload.insert(key::structuresEmitted, asInteger(structures));
    payload.insert(key::picturesWithBlocks, asInteger(result.picturesWithBlocks));
    payload.insert(payload_key::packetsRead, asInteger(result.packetsRead));
    payload.insert(payload_key::packetsSent, asInteger(result.packetsSent));
    return payload;
}

QJsonObject buildRunErrorPayload(const AnalyzerRunResult& result)
{
    return QJsonObject{
        {key::code, fromUtf8(result.code)},
        {key::message, fromUtf8(result.message)},
        {key::detail, fromUtf8(result.detail)},
        {key::ffmpegCode, result.ffmpegCode},
        {key::recoverable, true},
    };
}

QJsonObject buildExceptionPayload(const std::exception* exception)
{
    return QJsonObject{
        {key::code, QString::fromLatin1(kProbeExceptionCode)},
        {key::message,
         QString::fromLatin1(exception != nullptr ? kProbeExceptionMessage : kUnknownProbeExceptionMessage)},
        {key::detail, exception != nullptr ? QString::fromUtf8(exception->what()) : QString()},
        {key::recoverable, true},
    };
}

QJsonObject buildCanceledPayload()
{
    return QJsonObject{{key::canceled, true}};
}

bool isCanceledPayload(const QJsonObject& payload)
{
    return payload.value(key::canceled).toBool(false);
}

QJsonObject buildAnalysisFinishedPayload(const QJsonObject& successPayload)
{
    const auto integer = [&successPayload](QLatin1StringView name) { return successPayload.value(name).toInteger(0); };
    QJsonObject payload;
    payload.insert(key::probeCompleted, true);
    payload.insert(key::analysisMode, successPayload.value(key::analysisMode));
    payload.insert(key::targetDecodePictureId, integer(key::targetDecodePictureId));
    payload.insert(key::structuresEmitted, integer(key::structuresEmitted));
    payload.insert(payload_key::metadataPath, successPayload.value(payload_key::metadataPath));
    for (const CollectionCount& count : kCollectionCounts) {
        if (count.isStructure) {
            payload.insert(count.key, integer(count.key));
        }
    }
    payload.insert(key::cuDataProduced, integer(key::ctuCount) > 0 && integer(key::cuCount) > 0);
    payload.insert(key::puDataProduced, integer(key::puCount) > 0);
    payload.insert(key::tuDataProduced, integer(key::tuCount) > 0);
    // The desktop's task summary names the packets the opening decode went through.
    for (const QLatin1StringView carried :
         {key::picturesWithBlocks, payload_key::packetsRead, payload_key::packetsSent}) {
        payload.insert(carried, integer(carried));
    }
    return payload;
}

QJsonObject buildAnalysisCanceledPayload(bool shutdownPending)
{
    return QJsonObject{{key::reason, shutdownPending ? kShutdownReason : kRequestedReason}};
}

}  // namespace vexilo::analyzer
