#include "builder/AnalyzerIssues.h"

#include "builder/BuilderCodes.h"
#include "builder/StableIdDerivation.h"

namespace vexilo::analyzer {
namespace {

constexpr char kPathPrefix[] = "path=";
constexpr char kDetailSeparator[] = "; ";

void appendField(std::string& text, std::string_view name, std::uint64_t value)
{
    text += kDetailSeparator;
    text += name;
    text += std::to_string(value);
}

std::string pictureNamed(std::uint64_t pictureIdentity, const analysis::PictureAnalysisSummary& picture)
{
    return "pictureId=" + std::to_string(pictureIdentity) +
           "; decodeIndex=" + std::to_string(picture.decodeIndex.value_or(-1));
}

}  // namespace

std::string pictureNamed(const analysis::PictureAnalysisSummary& picture)
{
    return pictureNamed(picture.pictureId.value_or(0), picture);
}

std::string pictureBlocksDetail(const analysis::PictureAnalysisSummary& picture, std::uint64_t pictureIdentity,
                                const PictureBlockCounts& blocks)
{
    return pictureNamed(pictureIdentity, picture) + "; ctus=" + std::to_string(blocks.ctus) + "; cus=" + std::to_string(blocks.cus) +
           "; pus=" + std::to_string(blocks.pus) + "; tus=" + std::to_string(blocks.tus);
}

void recordOmittedPictureBlocks(analysis::StreamAnalysis& pictureDocument, const analysis::OmittedPictureBlocks& omitted)
{
    if (pictureDocument.pictures.size() != 1) {
        return;
    }
    const analysis::PictureAnalysisSummary& picture = pictureDocument.pictures.front();
    const std::uint64_t pictureIdentity = picture.pictureId.value_or(0);
    std::string detail = pictureBlocksDetail(picture, pictureIdentity,
                                             {omitted.ctus, omitted.cus, omitted.pus, omitted.tus});
    appendField(detail, "motionVectors=", omitted.motionVectors);
    if (omitted.payloadBytes) {
        appendField(detail, "payloadBytes=", *omitted.payloadBytes);
    }
    appendField(detail, "limitBytes=", omitted.limitBytes);
    if (!omitted.reason.empty()) {
        detail += kDetailSeparator;
        detail += "reason=" + omitted.reason;
    }
    analysis::AnalysisErrorInfo issue =
        analyzerErrorRecord(pictureDocument.id, deriveStableId(picture.id, ObjectKind::OmittedBlocksIssue, pictureIdentity),
                            builder_codes::kPictureBlocksOmitted, builder_codes::kPictureBlocksOmittedMessage,
                            std::move(detail));
    issue.relatedObjectId = picture.id;
    pictureDocument.errors.push_back(std::move(issue));
}

analysis::AnalysisErrorInfo analyzerErrorRecord(const analysis::StableId& documentId, const analysis::StableId& id,
                                                std::string_view code, std::string_view message, std::string detail)
{
    analysis::AnalysisErrorInfo error;
    error.id = id;
    error.parentStreamAnalysisId = documentId;
    error.severity = kAnalyzerIssueSeverity;
    error.code = code;
    error.component = kAnalyzerComponent;
    error.message = message;
    error.errorFlag = true;
    error.detail = std::move(detail);
    return error;
}

analysis::AnalysisErrorInfo pictureIssueRecord(const analysis::StableId& documentId,
                                               const analysis::PictureAnalysisSummary& picture, ObjectKind issueKind,
                                               std::string_view code, std::string_view message, std::string_view facts)
{
    const std::uint64_t pictureIdentity = picture.pictureId.value_or(0);
    std::string detail = pictureNamed(picture);
    detail += kDetailSeparator;
    detail += facts;
    analysis::AnalysisErrorInfo issue = analyzerErrorRecord(
        documentId, deriveStableId(picture.id, issueKind, pictureIdentity), code, message, std::move(detail));
    issue.relatedObjectId = picture.id;
    return issue;
}

AnalyzerIssues::AnalyzerIssues(analysis::StreamAnalysis& document, std::string inputPathUtf8)
    : document_(document), inputPathUtf8_(std::move(inputPathUtf8))
{
}

std::string AnalyzerIssues::detailText(std::string_view detail) const
{
    std::string text = kPathPrefix + inputPathUtf8_;
    if (!detail.empty()) {
        text += kDetailSeparator;
        text += detail;
    }
    return text;
}

void AnalyzerIssues::appendAnalyzerIssue(std::string_view code, std::string_view message, std::string_view detail)
{
    if (!reportedCodes_.emplace(code).second) {
        return;
    }
    ++issueCounter_;
    analysis::AnalysisErrorInfo issue =
        analyzerErrorRecord(document_.id, deriveStableId(document_.id, ObjectKind::AnalyzerIssue, issueCounter_), code,
                            message, detailText(detail));
    document_.errors.push_back(std::move(issue));
}

}  // namespace vexilo::analyzer
