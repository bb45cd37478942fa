#include "builder/AnalyzerIssues.h"

#include "builder/StableIdDerivation.h"

namespace vexilo::analyzer {
namespace {

constexpr char kPathPrefix[] = "path=";
constexpr char kDetailSeparator[] = "; ";

}  // namespace

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
