#pragma once

#include "vexilo/ai/AiEvidenceSnapshot.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>

namespace vexilo::ai {

// The decoded pictures that a document's picture ids name. A picture's own document names the
// project's pictures, as the repository made it; the stream document names the analyzer's own
// identities, which meet the decoded pictures by their summaries' display indexes, as the
// picture table's rows do.
class DocumentPictures {
public:
    DocumentPictures(const AiEvidenceSnapshot& snapshot, const analysis::StreamAnalysis& document);

    // The decoded picture that a document picture id names, with what the document's summary of
    // it knows beyond the decoder's record; absent when no decoded picture is named.
    [[nodiscard]] std::optional<domain::PictureInfo> decodedPicture(std::uint64_t documentId) const;
    // A decoded picture with what the document's summary of it knows.
    [[nodiscard]] domain::PictureInfo refined(const domain::PictureInfo& picture) const;
    [[nodiscard]] std::optional<std::uint64_t> documentIdOf(const domain::PictureInfo& picture) const;
    [[nodiscard]] const analysis::PictureAnalysisSummary* summaryOf(const domain::PictureInfo& picture) const;
    // What can be said of a document picture that no decoded picture answers to.
    [[nodiscard]] QString undecodedPictureEvidence(std::uint64_t documentId) const;

private:
    [[nodiscard]] const analysis::PictureAnalysisSummary* summaryOfDocumentId(std::uint64_t documentId) const;

    const std::vector<domain::PictureInfo>& pictures_;
    bool namesProjectPictures_ = false;
    std::unordered_map<std::uint64_t, std::size_t> pictureOfDocumentId_;
    std::unordered_map<domain::PictureId, std::uint64_t> documentIdOfPicture_;
    std::unordered_map<std::uint64_t, const analysis::PictureAnalysisSummary*> summaryOfDocumentId_;
};

}  // namespace vexilo::ai
