#include "app/AnalyzeRequest.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QFileInfo>
#include <QJsonValue>

#include <array>

namespace vexilo::analyzer {
namespace {

struct ModeName {
    AnalysisMode mode;
    QLatin1StringView name;
};

constexpr std::array kModeNames{
    ModeName{AnalysisMode::StreamIndex, QLatin1StringView("stream_index")},
    ModeName{AnalysisMode::PictureStructure, QLatin1StringView("picture_structure")},
    ModeName{AnalysisMode::BoundedStructure, QLatin1StringView("bounded_structure")},
};

constexpr std::array kElementaryExtensions{QLatin1StringView("hevc"), QLatin1StringView("h265")};
constexpr std::array kMovFamilyExtensions{QLatin1StringView("mp4"), QLatin1StringView("m4v"),
                                          QLatin1StringView("mov")};
constexpr auto kMovDemuxerName = "mov";

struct CheckFailure {
    const char* code;
    const char* message;
};

constexpr CheckFailure kMissingInput{"analyzer.invalid_input", "Analyze requires a non-empty inputPath"};
constexpr CheckFailure kMissingCacheRoot{"analyzer.invalid_cache_root", "Analyze requires a non-empty cacheRoot"};
constexpr CheckFailure kInvalidMode{"analyzer.invalid_mode", "analysisMode must be a non-empty string when present"};
constexpr CheckFailure kUnsupportedMode{"analyzer.unsupported_mode", "Unsupported analysisMode"};
constexpr CheckFailure kInvalidTarget{"analyzer.invalid_target_picture",
                                      "targetDecodePictureId must be a positive integer"};
constexpr CheckFailure kMissingTarget{"analyzer.invalid_target_picture",
                                      "picture_structure analysis requires targetDecodePictureId"};
constexpr CheckFailure kInvalidStructureStart{"analyzer.invalid_structure_start",
                                              "structureStart must name an access unit in whole numbers"};
constexpr CheckFailure kUnreadableInput{"analyzer.invalid_input", "Input must be an absolute, readable local file"};
constexpr CheckFailure kUnsupportedInput{"analyzer.unsupported_input",
                                         "Only .hevc, .h265, .mp4, .m4v, and .mov HEVC inputs are supported"};
constexpr CheckFailure kBackendUnavailable{
    "analyzer.backend_unavailable", "MP4/MOV HEVC analysis requires a vexilo-ffmpeg SDK built with the MOV demuxer"};
constexpr CheckFailure kUnusableCacheRoot{"analyzer.invalid_cache_root",
                                          "Cache root must be an existing readable and writable directory"};
constexpr CheckFailure kUnresolvedPath{"analyzer.path_resolution_failed", "Input or cache root could not be resolved"};

AnalyzeRequestCheck refused(const CheckFailure& failure, const QString& detail = {})
{
    AnalyzeRequestCheck check;
    check.code = QString::fromLatin1(failure.code);
    check.message = QString::fromLatin1(failure.message);
    check.detail = detail;
    return check;
}

template <std::size_t N>
bool containsSuffix(const std::array<QLatin1StringView, N>& words, const QString& suffix)
{
    const QString lowered = suffix.toLower();
    for (const QLatin1StringView word : words) {
        if (lowered == word) {
            return true;
        }
    }
    return false;
}

bool isNonEmptyString(const QJsonValue& value)
{
    return value.isString() && !value.toString().isEmpty();
}

// A whole number of at least 1 within 64 bits; anything else at least 1 counts as no target (0).
std::optional<std::uint64_t> targetPicture(const QJsonValue& value)
{
    if (!value.isDouble() || !(value.toDouble() >= 1.0)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value.toInteger(0));
}

bool isUsableInput(const QFileInfo& input)
{
    return !input.isRelative() && input.exists() && input.isFile() && input.isReadable();
}

bool isUsableCacheRoot(const QFileInfo& cacheRoot)
{
    return !cacheRoot.isRelative() && cacheRoot.exists() && cacheRoot.isDir() && cacheRoot.isReadable() &&
           cacheRoot.isWritable();
}

}  // namespace

std::optional<AnalysisMode> analysisModeFromName(QStringView name)
{
    for (const ModeName& entry : kModeNames) {
        if (name == entry.name) {
            return entry.mode;
        }
    }
    return std::nullopt;
}

bool hasMovDemuxer()
{
    return av_find_input_format(kMovDemuxerName) != nullptr;
}

QJsonArray supportedInputExtensions()
{
    QJsonArray extensions;
    const auto appendAll = [&extensions](const auto& words) {
        for (const QLatin1StringView word : words) {
            extensions.append(QLatin1Char('.') + word);
        }
    };
    appendAll(kElementaryExtensions);
    if (hasMovDemuxer()) {
        appendAll(kMovFamilyExtensions);
    }
    return extensions;
}

bool isSupportedInputExtension(const QString& suffix)
{
    return containsSuffix(kElementaryExtensions, suffix) || containsSuffix(kMovFamilyExtensions, suffix);
}

bool isMovFamilyExtension(const QString& suffix)
{
    return containsSuffix(kMovFamilyExtensions, suffix);
}

AnalyzeRequestCheck validateAnalyzeRequest(const QJsonObject& payload)
{
    const QJsonValue inputValue = payload.value(analyze_key::inputPath);
    if (!isNonEmptyString(inputValue)) {
        return refused(kMissingInput);
    }
    const QJsonValue cacheRootValue = payload.value(analyze_key::cacheRoot);
    if (!isNonEmptyString(cacheRootValue)) {
        return refused(kMissingCacheRoot);
    }

    QString mode(kDefaultAnalysisModeName);
    if (payload.contains(analyze_key::analysisMode)) {
        const QJsonValue modeValue = payload.value(analyze_key::analysisMode);
        if (!isNonEmptyString(modeValue)) {
            return refused(kInvalidMode);
        }
        mode = modeValue.toString();
    }
    const std::optional<AnalysisMode> parsedMode = analysisModeFromName(mode);
    if (!parsedMode) {
        return refused(kUnsupportedMode, mode);
    }

    std::uint64_t target = 0;
    if (payload.contains(analyze_key::targetDecodePictureId)) {
        const std::optional<std::uint64_t> parsedTarget = targetPicture(payload.value(analyze_key::targetDecodePictureId));
        if (!parsedTarget) {
            return refused(kInvalidTarget);
        }
        target = *parsedTarget;
    }
    if (*parsedMode == AnalysisMode::PictureStructure && target == 0) {
        return refused(kMissingTarget);
    }
    std::optional<protocol::StructureStart> structureStart;
    if (*parsedMode == AnalysisMode::PictureStructure && payload.contains(protocol::kStructureStartKey)) {
        structureStart = protocol::structureStartFromJson(payload.value(protocol::kStructureStartKey));
        if (!structureStart) {
            return refused(kInvalidStructureStart);
        }
    }

    const QFileInfo input(inputValue.toString());
    if (!isUsableInput(input)) {
        return refused(kUnreadableInput, input.absoluteFilePath());
    }
    const QString suffix = input.suffix();
    if (!isSupportedInputExtension(suffix)) {
        return refused(kUnsupportedInput, input.absoluteFilePath());
    }
    if (isMovFamilyExtension(suffix) && !hasMovDemuxer()) {
        return refused(kBackendUnavailable, input.absoluteFilePath());
    }

    const QFileInfo cacheRoot(cacheRootValue.toString());
    if (!isUsableCacheRoot(cacheRoot)) {
        return refused(kUnusableCacheRoot, cacheRoot.absoluteFilePath());
    }

    AnalyzeRequestCheck check;
    check.inputPath = input.canonicalFilePath();
    check.cacheRoot = cacheRoot.canonicalFilePath();
    if (check.inputPath.isEmpty() || check.cacheRoot.isEmpty()) {
        return refused(kUnresolvedPath, QStringLiteral("input=%1; cacheRoot=%2")
                                            .arg(input.absoluteFilePath(), cacheRoot.absoluteFilePath()));
    }
    check.ok = true;
    check.mode = mode;
    check.targetDecodePictureId = target;
    check.structureStart = std::move(structureStart);
    return check;
}

}  // namespace vexilo::analyzer
