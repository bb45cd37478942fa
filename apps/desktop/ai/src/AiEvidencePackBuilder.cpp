#include "vexilo/ai/AiEvidencePackBuilder.h"

#include "vexilo/ai/AiEvidenceSections.h"
#include "vexilo/media/PathText.h"

#include "EvidenceFill.h"

#include <QStringList>

namespace vexilo::ai {

namespace {

constexpr auto kTruncationMarker = "\n[truncated: evidence exceeded configured context limit]";

void appendHeader(QStringList& lines, const QString& statusText)
{
    const QString status = statusText.trimmed();
    lines.append(QStringLiteral("Vexilo AI Evidence Pack v1"));
    lines.append(QStringLiteral("status: ") + (status.isEmpty() ? QStringLiteral("N/A") : status));
    lines.append(QStringLiteral("data policy: no decoded pixels or source bitstream bytes are included"));
}

void appendDecodedStream(QStringList& lines, const AiEvidenceSnapshot& snapshot)
{
    lines.append(QStringLiteral("[decoded stream]"));
    if (const auto& info = snapshot.streamInfo) {
        lines.append(QStringLiteral("source file: ") + formatEvidenceFileName(media::pathToQString(info->sourcePath)));
        lines.append(QStringLiteral("codec: ") + QString::fromStdString(info->codecName));
        lines.append(fillEvidenceLine("resolution: %1 x %2", QString::number(info->width), QString::number(info->height)));
        lines.append(QStringLiteral("bit depth: ") + QString::number(info->bitDepth));
        lines.append(QStringLiteral("pixel format: ") + QString::fromStdString(info->pixelFormatName));
        lines.append(QStringLiteral("container picture count: ") + QString::number(info->frameCount));
    } else {
        lines.append(QStringLiteral("stream: unavailable"));
    }
    lines.append(QStringLiteral("decoded pictures: ") + QString::number(snapshot.pictures.size()));
    appendPictureTypeDistribution(lines, snapshot.pictures);
}

QString collectionSize(std::size_t size)
{
    return QString::number(size);
}

void appendStreamAnalysis(QStringList& lines, const std::shared_ptr<const analysis::StreamAnalysis>& document)
{
    lines.append(QStringLiteral("[stream analysis]"));
    if (!document) {
        lines.append(QStringLiteral("stream analysis: unavailable"));
        return;
    }
    lines.append(fillEvidenceLine("schema_version=%1 minimum_reader_version=%2", QString::number(document->schemaVersion),
                      QString::number(document->minimumReaderVersion)));
    const std::optional<std::uint32_t> bitDepth =
        document->bitDepth ? std::optional<std::uint32_t>(*document->bitDepth) : std::nullopt;
    lines.append(fillEvidenceLine("analysis dimensions: %1 x %2 bit_depth=%3", formatOptionalCount(document->width),
                      formatOptionalCount(document->height), formatOptionalCount(bitDepth)));
    lines.append(fillEvidenceLine("NALs=%1 parameter_sets=%2 SEI=%3 slices=%4 pictures=%5 CTUs=%6 CUs=%7 PUs=%8 TUs=%9 MVs=%10 "
                      "errors=%11",
                      collectionSize(document->nalUnits.size()), collectionSize(document->parameterSets.size()),
                      collectionSize(document->seiMessages.size()), collectionSize(document->slices.size()),
                      collectionSize(document->pictures.size()), collectionSize(document->ctus.size()),
                      collectionSize(document->cus.size()), collectionSize(document->pus.size()),
                      collectionSize(document->tus.size()), collectionSize(document->motionVectors.size()),
                      collectionSize(document->errors.size())));
}

const analysis::StreamAnalysis* firstPresent(const std::shared_ptr<const analysis::StreamAnalysis>& preferred,
                                             const std::shared_ptr<const analysis::StreamAnalysis>& fallback)
{
    return preferred ? preferred.get() : fallback.get();
}

void appendReferenceYuv(QStringList& lines, const std::optional<domain::ReferenceYuvSource>& reference)
{
    lines.append(QStringLiteral("[reference YUV]"));
    lines.append(reference ? formatReferenceYuvEvidence(*reference) : QStringLiteral("reference YUV: unavailable"));
}

}  // namespace

AiEvidencePackBuilder::AiEvidencePackBuilder(AiEvidenceSnapshot snapshot) : snapshot_(std::move(snapshot)) {}

QString AiEvidencePackBuilder::build() const
{
    QStringList lines;
    appendHeader(lines, snapshot_.statusText);
    appendDecodedStream(lines, snapshot_);
    appendStreamAnalysis(lines, snapshot_.streamAnalysis);
    appendSelectedPictureEvidence(lines, snapshot_, firstPresent(snapshot_.pictureAnalysis, snapshot_.streamAnalysis));
    appendFrameSizeEvidence(lines, snapshot_, firstPresent(snapshot_.streamAnalysis, snapshot_.pictureAnalysis));
    appendReferenceYuv(lines, snapshot_.referenceYuv);
    appendQualityDropEvidence(lines, snapshot_);
    appendAbQualityEvidence(lines, snapshot_);
    return limitEvidenceText(lines.join(QLatin1Char('\n')), snapshot_.contextCharacterLimit);
}

QString limitEvidenceText(const QString& text, std::uint64_t limit)
{
    const auto length = static_cast<std::uint64_t>(text.size());
    if (limit == 0 || length <= limit) {
        return text;
    }
    const QLatin1String marker(kTruncationMarker);
    const auto markerLength = static_cast<std::uint64_t>(marker.size());
    auto keep = static_cast<qsizetype>(limit > markerLength ? limit - markerLength : limit);
    // A cut between the two halves of a surrogate pair would leave half a character.
    if (keep > 0 && text.at(keep - 1).isHighSurrogate() && text.at(keep).isLowSurrogate()) {
        --keep;
    }
    return text.left(keep) + marker;
}

}  // namespace vexilo::ai
