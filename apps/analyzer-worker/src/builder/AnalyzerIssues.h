#pragma once

#include "vexilo/analysis/StreamAnalysis.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace vexilo::analyzer {

inline constexpr char kAnalyzerComponent[] = "AnalyzerWorker";
inline constexpr std::uint8_t kAnalyzerIssueSeverity = 2;

// An error record of the analyzer's own, a child of the document.
[[nodiscard]] analysis::AnalysisErrorInfo analyzerErrorRecord(const analysis::StableId& documentId,
                                                              const analysis::StableId& id, std::string_view code,
                                                              std::string_view message, std::string detail);

// The analyzer's own non-fatal findings, kept as error records of the document: one
// record per code, however often the finding recurs.
class AnalyzerIssues {
public:
    AnalyzerIssues(analysis::StreamAnalysis& document, std::string inputPathUtf8);

    void appendAnalyzerIssue(std::string_view code, std::string_view message, std::string_view detail = {});

    // "path=" and the input path, then "; " and the detail when there is one.
    [[nodiscard]] std::string detailText(std::string_view detail) const;

private:
    analysis::StreamAnalysis& document_;
    std::string inputPathUtf8_;
    std::set<std::string, std::less<>> reportedCodes_;
    std::uint64_t issueCounter_ = 0;
};

}  // namespace vexilo::analyzer
