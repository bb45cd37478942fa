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
        lines.append(QStringLiteral("container picture count: ") +
                     (info->frameCount >= 0 ? QString::number(info->frameCount)
                                            : QStringLiteral("none read from the container")));
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

// Blocks live in the pictures' own documents, so the stream's document knows them only as the
// counts its summaries keep of the pictures whose blocks were analysed; they are summed over
// those pictures, as the statistics say.
void appendKnownBlocks(QStringList& lines, const analysis::StreamAnalysis& document)
{
    std::uint64_t pictures = 0;
    std::uint64_t ctus = 0;
    std::uint64_t cus = 0;
    std::uint64_t pus = 0;
    std::uint64_t tus = 0;
    for (const analysis::PictureAnalysisSummary& picture : document.pictures) {
        if (picture.ctuCount) {
            ++pictures;
            ctus += *picture.ctuCount;
            cus += picture.cuCount.value_or(0);
            pus += picture.puCount.value_or(0);
            tus += picture.tuCount.value_or(0);
        }
    }
    lines.append(fillEvidenceLine("pictures with known blocks: %1 of %2", QString::number(pictures),
                                  collectionSize(document.pictures.size())));
    if (pictures == 0) {
        lines.append(QStringLiteral("blocks in pictures with known blocks: unavailable"));
        return;
    }
    lines.append(fillEvidenceLine("blocks in pictures with known blocks: CTUs=%1 CUs=%2 PUs=%3 TUs=%4",
                                  QString::number(ctus), QString::number(cus), QString::number(pus),
                                  QString::number(tus)));
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
    lines.append(fillEvidenceLine("NALs=%1 parameter_sets=%2 SEI=%3 slices=%4 pictures=%5 errors=%6",
                                  collectionSize(document->nalUnits.size()),
                                  collectionSize(document->parameterSets.size()),
                                  collectionSize(document->seiMessages.size()), collectionSize(document->slices.size()),
                                  collectionSize(document->pictures.size()), collectionSize(document->errors.size())));
    appendKnownBlocks(lines, *document);
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
