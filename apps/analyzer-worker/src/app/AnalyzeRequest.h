#pragma once

#include "pipeline/AnalysisPipeline.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace vexilo::analyzer {

// Members of an "analyze" request payload.
namespace analyze_key {
inline constexpr QLatin1StringView inputPath{"inputPath"};
inline constexpr QLatin1StringView cacheRoot{"cacheRoot"};
inline constexpr QLatin1StringView analysisMode{"analysisMode"};
inline constexpr QLatin1StringView targetDecodePictureId{"targetDecodePictureId"};
}  // namespace analyze_key

inline constexpr QLatin1StringView kDefaultAnalysisModeName{"stream_index"};

struct AnalyzeRequestCheck {
    bool ok = false;
    QString code;
    QString message;
    QString detail;
    QString inputPath;  // canonical, when ok
    QString cacheRoot;  // canonical, when ok
    QString mode = QString(kDefaultAnalysisModeName);
    std::uint64_t targetDecodePictureId = 0;
    std::optional<protocol::StructureStart> structureStart;
};

[[nodiscard]] AnalyzeRequestCheck validateAnalyzeRequest(const QJsonObject& payload);

// The protocol name of a mode and back; unknown names are none of the modes.
[[nodiscard]] std::optional<AnalysisMode> analysisModeFromName(QStringView name);

[[nodiscard]] QJsonArray supportedInputExtensions();
[[nodiscard]] bool isSupportedInputExtension(const QString& suffix);
[[nodiscard]] bool isMovFamilyExtension(const QString& suffix);
[[nodiscard]] bool hasMovDemuxer();

}  // namespace vexilo::analyzer
