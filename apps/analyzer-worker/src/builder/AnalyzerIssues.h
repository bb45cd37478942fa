#pragma once

#include "builder/StableIdDerivation.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheWriter.h"

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

// How a finding names its picture: "pictureId=...; decodeIndex=...".
[[nodiscard]] std::string pictureNamed(const analysis::PictureAnalysisSummary& picture);

// A finding about one picture, which goes into that picture's document: its detail names the
// picture ("pictureId=...; decodeIndex=...") and then the given facts.
[[nodiscard]] analysis::AnalysisErrorInfo pictureIssueRecord(const analysis::StableId& documentId,
                                                             const analysis::PictureAnalysisSummary& picture,
                                                             ObjectKind issueKind, std::string_view code,
                                                             std::string_view message, std::string_view facts);

// Names a picture and the blocks it lost: "pictureId=...; decodeIndex=...; ctus=...; cus=...;
// pus=...; tus=...".
struct PictureBlockCounts {
    std::uint64_t ctus = 0;
    std::uint64_t cus = 0;
    std::uint64_t pus = 0;
    std::uint64_t tus = 0;
};
[[nodiscard]] std::string pictureBlocksDetail(const analysis::PictureAnalysisSummary& picture,
                                              std::uint64_t pictureIdentity, const PictureBlockCounts& blocks);

// Appends to a picture document written without its coding blocks, because they did not
// fit, the record that says so, with the sizes.
void recordOmittedPictureBlocks(analysis::StreamAnalysis& pictureDocument,
                                const analysis::OmittedPictureBlocks& omitted);

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
