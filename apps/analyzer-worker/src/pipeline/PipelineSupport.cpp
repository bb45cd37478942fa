#include "pipeline/PipelineSupport.h"

#include "builder/BuilderValues.h"
#include "collector/ObserverEventCollector.h"

#include "vexilo/hevc_observer/observer_abi.h"

#include <QCryptographicHash>
#include <QFile>
#include <QString>

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <array>

namespace vexilo::analyzer {
namespace {

constexpr char kSha256Prefix[] = "sha256:";
constexpr int kDecimalBase = 10;
constexpr std::size_t kFfmpegErrorTextSize = 64;
// More frame threads than this only hold more pictures in flight: the parse of the syntax
// beside them is the slower half by then.
constexpr int kMaxDecoderFrameThreads = 8;
// Edges at or beyond this are values no decoder produces; they would only hide real extents.
constexpr std::int64_t kCtuEdgeLimit = 65536;

std::string sizeText(std::optional<std::uint32_t> width, std::optional<std::uint32_t> height)
{
    return std::to_string(width.value_or(0)) + "x" + std::to_string(height.value_or(0));
}

std::int64_t usableEdge(std::int64_t position, std::uint32_t size)
{
    const std::int64_t edge = position + static_cast<std::int64_t>(size);
    return edge < kCtuEdgeLimit ? edge : 0;
}

}  // namespace

std::optional<std::string> sha256FileFingerprint(const std::filesystem::path& path)
{
    QFile file(QString::fromStdU16String(path.u16string()));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) {
        return std::nullopt;
    }
    return kSha256Prefix + hash.result().toHex().toStdString();
}

std::uint64_t observerEventCapacity(const QByteArray& variableText)
{
    if (variableText.isEmpty()) {
        return kDefaultObserverEventCapacity;
    }
    bool parsed = false;
    const qulonglong value = variableText.toULongLong(&parsed, kDecimalBase);
    if (!parsed || value == 0) {
        return kDefaultObserverEventCapacity;
    }
    return std::min<std::uint64_t>(value, kMaxObserverEventCapacity);
}

std::uint64_t blockEventCapacity(const QByteArray& variableText)
{
    bool parsed = false;
    const qulonglong value = variableText.toULongLong(&parsed, kDecimalBase);
    return parsed && value != 0 ? observerEventCapacity(variableText) : kNoBlockEventBound;
}

std::uint64_t blockEventCapacityFromEnvironment()
{
    return blockEventCapacity(qgetenv(kEventCapacityVariable));
}

std::optional<std::uint64_t> pictureDocumentLimitFromEnvironment()
{
    bool parsed = false;
    const qulonglong value = qgetenv(kPictureDocumentLimitVariable).toULongLong(&parsed, kDecimalBase);
    return parsed && value != 0 ? std::optional<std::uint64_t>(value) : std::nullopt;
}

std::uint64_t blockBudgetBytesFromEnvironment(std::uint64_t defaultBudget)
{
    bool parsed = false;
    const qulonglong value = qgetenv(kBlockBudgetVariable).toULongLong(&parsed, kDecimalBase);
    return parsed && value != 0 ? std::min<std::uint64_t>(value, defaultBudget) : defaultBudget;
}

int decoderFrameThreads() noexcept
{
    return std::min(usableCores(), kMaxDecoderFrameThreads);
}

std::uint64_t observerEventMask(AnalysisMode mode) noexcept
{
    switch (mode) {
    case AnalysisMode::PictureStructure:
    case AnalysisMode::BoundedStructure:
        return VEXILO_OBSERVER_EVENT_MASK_ALL;
    case AnalysisMode::StreamIndex:
        break;
    }
    return VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX;
}

std::uint64_t collectorTargetPicture(AnalysisMode mode, std::uint64_t targetDecodePictureId) noexcept
{
    return mode == AnalysisMode::PictureStructure ? targetDecodePictureId : 0;
}

std::string describeStream(const analysis::StreamAnalysis& document)
{
    std::int64_t right = 0;
    std::int64_t bottom = 0;
    for (const analysis::CtuInfo& ctu : document.ctus) {
        right = std::max(right, usableEdge(ctu.bounds.x, ctu.bounds.width));
        bottom = std::max(bottom, usableEdge(ctu.bounds.y, ctu.bounds.height));
    }
    std::string text = "stream=" + sizeText(document.width, document.height) + "; ctuExtent=" +
                       std::to_string(right) + "x" + std::to_string(bottom);
    for (const analysis::ParameterSetInfo& parameterSet : document.parameterSets) {
        if (parameterSet.kind == analysis::ParameterSetKind::Sps) {
            text += "; sps=" + sizeText(parameterSet.width, parameterSet.height);
        }
    }
    return text;
}

std::string ffmpegErrorText(int code)
{
    std::array<char, kFfmpegErrorTextSize> buffer{};
    av_strerror(code, buffer.data(), buffer.size());
    return std::string(buffer.data());
}

std::string failureDetail(const std::filesystem::path& inputPath, int ffmpegCode,
                          std::optional<std::string_view> description)
{
    std::string detail = "path=" + pathToUtf8Text(inputPath) + "; ffmpegCode=" + std::to_string(ffmpegCode);
    if (description) {
        detail += "; description=" + std::string(*description);
    } else if (ffmpegCode < 0) {
        detail += "; description=" + ffmpegErrorText(ffmpegCode);
    }
    return detail;
}

}  // namespace vexilo::analyzer
