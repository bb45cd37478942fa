#include "DocumentPictures.h"

#include "vexilo/ai/AiEvidenceSections.h"

#include "EvidenceFill.h"

namespace vexilo::ai {
namespace {

// A present value of the summary replaces the decoder's, as the picture table's refinement does.
template <typename Value, typename SummaryValue>
void refine(std::optional<Value>& value, const std::optional<SummaryValue>& summaryValue)
{
    if (summaryValue) {
        value = static_cast<Value>(*summaryValue);
    }
}

template <typename Value, typename SummaryValue>
void refine(Value& value, const std::optional<SummaryValue>& summaryValue)
{
    if (summaryValue) {
        value = static_cast<Value>(*summaryValue);
    }
}

}  // namespace

DocumentPictures::DocumentPictures(const AiEvidenceSnapshot& snapshot, const analysis::StreamAnalysis& document)
    : pictures_(snapshot.pictures), namesProjectPictures_(&document == snapshot.pictureAnalysis.get())
{
    for (const analysis::PictureAnalysisSummary& summary : document.pictures) {
        if (summary.pictureId) {
            summaryOfDocumentId_.try_emplace(*summary.pictureId, &summary);
        }
    }
    const auto link = [this](std::uint64_t documentId, std::size_t position) {
        pictureOfDocumentId_.try_emplace(documentId, position);
        documentIdOfPicture_.try_emplace(pictures_[position].id, documentId);
    };
    if (namesProjectPictures_) {
        for (std::size_t position = 0; position < pictures_.size(); ++position) {
            if (pictures_[position].id >= 0) {
                link(static_cast<std::uint64_t>(pictures_[position].id), position);
            }
        }
        return;
    }
    std::unordered_map<std::int64_t, std::size_t> pictureAtDisplayIndex;
    for (std::size_t position = 0; position < pictures_.size(); ++position) {
        pictureAtDisplayIndex.try_emplace(pictures_[position].displayIndex, position);
    }
    for (const analysis::PictureAnalysisSummary& summary : document.pictures) {
        if (!summary.pictureId || !summary.displayIndex) {
            continue;
        }
        if (const auto found = pictureAtDisplayIndex.find(*summary.displayIndex); found != pictureAtDisplayIndex.end()) {
            link(*summary.pictureId, found->second);
        }
    }
}

std::optional<domain::PictureInfo> DocumentPictures::decodedPicture(std::uint64_t documentId) const
{
    const auto found = pictureOfDocumentId_.find(documentId);
    if (found == pictureOfDocumentId_.end()) {
        return std::nullopt;
    }
    return refined(pictures_[found->second]);
}

domain::PictureInfo DocumentPictures::refined(const domain::PictureInfo& picture) const
{
    domain::PictureInfo result = picture;
    const analysis::PictureAnalysisSummary* summary = summaryOf(picture);
    if (summary == nullptr) {
        return result;
    }
    refine(result.decodeIndex, summary->decodeIndex);
    refine(result.pts, summary->pts);
    refine(result.dts, summary->dts);
    refine(result.poc, summary->poc);
    const auto type = static_cast<std::uint32_t>(summary->pictureType);
    if (type != 0 && type <= domain::kMaxPictureTypeCode) {
        result.pictureType = static_cast<domain::PictureType>(type);
    }
    refine(result.width, summary->width);
    refine(result.height, summary->height);
    refine(result.bitDepth, summary->bitDepth);
    return result;
}

std::optional<std::uint64_t> DocumentPictures::documentIdOf(const domain::PictureInfo& picture) const
{
    const auto found = documentIdOfPicture_.find(picture.id);
    return found == documentIdOfPicture_.end() ? std::nullopt : std::optional(found->second);
}

const analysis::PictureAnalysisSummary* DocumentPictures::summaryOf(const domain::PictureInfo& picture) const
{
    const std::optional<std::uint64_t> documentId = documentIdOf(picture);
    return documentId ? summaryOfDocumentId(*documentId) : nullptr;
}

QString DocumentPictures::undecodedPictureEvidence(std::uint64_t documentId) const
{
    // The project's own picture ids stand for themselves; the analyzer's are not shown, as no
    // other view names a picture by them.
    if (namesProjectPictures_) {
        return fillEvidenceLine("picture_id=%1", QString::number(documentId));
    }
    const analysis::PictureAnalysisSummary* summary = summaryOfDocumentId(documentId);
    return fillEvidenceLine("no decoded picture: decode=%1 poc=%2",
                            formatOptionalCount(summary ? summary->decodeIndex : std::nullopt),
                            formatOptionalCount(summary ? summary->poc : std::nullopt));
}

const analysis::PictureAnalysisSummary* DocumentPictures::summaryOfDocumentId(std::uint64_t documentId) const
{
    const auto found = summaryOfDocumentId_.find(documentId);
    return found == summaryOfDocumentId_.end() ? nullptr : found->second;
}

}  // namespace vexilo::ai
