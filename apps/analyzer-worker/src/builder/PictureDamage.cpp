#include "builder/AnalyzerIssues.h"
#include "builder/BuilderCodes.h"
#include "builder/BuilderValues.h"
#include "builder/DocumentBuilder.h"

#include <algorithm>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

namespace vexilo::analyzer {
namespace {

namespace codes = builder_codes;

constexpr std::uint32_t kMinLog2CtbSize = 4;
constexpr std::uint32_t kMaxLog2CtbSize = 6;

std::uint64_t ctbsAcross(std::uint32_t samples, std::uint32_t log2CtbSize) noexcept
{
    return (std::uint64_t{samples} + (std::uint64_t{1} << log2CtbSize) - 1) >> log2CtbSize;
}

// PicSizeInCtbsY; 0 when the grid is not known well enough to say.
std::uint64_t ctbCount(std::uint32_t log2CtbSize, std::uint32_t width, std::uint32_t height) noexcept
{
    if (log2CtbSize < kMinLog2CtbSize || log2CtbSize > kMaxLog2CtbSize || width == 0 || height == 0) {
        return 0;
    }
    return ctbsAcross(width, log2CtbSize) * ctbsAcross(height, log2CtbSize);
}

}  // namespace

void DocumentBuilder::noteParameterSetGrid(const VexiloObserverParameterSetEvent& event)
{
    const analysis::ParameterSetKind kind = parameterSetKindOf(event.parameterSetKind);
    if (kind == analysis::ParameterSetKind::Sps) {
        spsGrids_.insert_or_assign(event.parameterSetId, CtbGrid{event.log2CtuSize, event.width, event.height});
    } else if (kind == analysis::ParameterSetKind::Pps) {
        spsIdOfPps_.insert_or_assign(event.parameterSetId, event.referencedParameterSetId);
    }
}

// The grid is taken when the picture's first slice arrives: a parameter set sent again later
// with other values belongs to later pictures.
void DocumentBuilder::notePictureGrid(std::uint64_t pictureIdentity, std::optional<std::uint16_t> ppsId)
{
    if (!ppsId || pictureGrids_.contains(pictureIdentity)) {
        return;
    }
    const auto sps = spsIdOfPps_.find(*ppsId);
    if (sps == spsIdOfPps_.end()) {
        return;
    }
    const auto grid = spsGrids_.find(sps->second);
    if (grid != spsGrids_.end()) {
        pictureGrids_.emplace(pictureIdentity, grid->second);
    }
}

// A picture whose blocks were collected must have a parsed CTU at every address of its grid;
// one whose slices stop short (a stream cut in the middle, a slice lost or broken off) is
// partial, and an issue of its own says how much of it was found.
std::vector<std::uint64_t> DocumentBuilder::parsedCtusOfDocumentPictures() const
{
    std::vector<std::uint64_t> parsedCtus(document_.pictures.size(), 0);
    StableIdTable<std::size_t> positions;
    positions.reserve(document_.pictures.size());
    for (std::size_t i = 0; i < document_.pictures.size(); ++i) {
        positions.insert(document_.pictures[i].id, i);
    }
    for (const analysis::CtuInfo& ctu : document_.ctus) {
        const std::size_t* position = positions.find(ctu.parentPictureSummaryId);
        if (position != nullptr && ctu.parseStatus == analysis::BlockParseStatus::Parsed) {
            ++parsedCtus[*position];
        }
    }
    return parsedCtus;
}

std::uint64_t parsedCtuCount(const std::vector<analysis::CtuInfo>& ctus) noexcept
{
    return static_cast<std::uint64_t>(std::count_if(ctus.begin(), ctus.end(), [](const analysis::CtuInfo& ctu) {
        return ctu.parseStatus == analysis::BlockParseStatus::Parsed;
    }));
}

void DocumentBuilder::markPicturesNotCoveredBySlices(const std::vector<std::uint64_t>& parsedCtus)
{
    for (std::size_t i = 0; i < document_.pictures.size(); ++i) {
        analysis::PictureAnalysisSummary& picture = document_.pictures[i];
        // Pictures without blocks were not looked into; those that lost blocks are named already.
        if (picture.completeness != analysis::PictureCompleteness::Complete || !picture.pictureId) {
            continue;
        }
        const auto grid = pictureGrids_.find(*picture.pictureId);
        if (grid == pictureGrids_.end()) {
            continue;
        }
        const std::uint64_t expected =
            ctbCount(grid->second.log2CtbSize, grid->second.width, grid->second.height);
        if (expected == 0 || parsedCtus[i] >= expected) {
            continue;
        }
        picture.completeness = analysis::PictureCompleteness::Partial;
        document_.errors.push_back(pictureIssueRecord(
            document_.id, picture, ObjectKind::IncompletePictureIssue, codes::kPictureIncomplete,
            codes::kPictureIncompleteMessage,
            "ctus=" + std::to_string(parsedCtus[i]) + "; expectedCtus=" + std::to_string(expected)));
    }
}

// A picture predicted from a reference the decoder had to generate shows what the generated
// picture holds, not what the stream coded: the damage of a lost picture spreads to these.
void DocumentBuilder::markPicturesWithMissingReferences()
{
    StableIdTable<std::uint64_t> pictureOfSlice;
    pictureOfSlice.reserve(document_.slices.size());
    for (const analysis::SliceInfo& slice : document_.slices) {
        if (slice.pictureId) {
            pictureOfSlice.insert(slice.id, *slice.pictureId);
        }
    }
    std::map<std::uint64_t, std::vector<std::int32_t>> missingPocs;
    for (const analysis::ReferencePictureEntry& entry : document_.referencePictures) {
        if (entry.status != analysis::ReferenceStatus::Unavailable &&
            entry.status != analysis::ReferenceStatus::Corrupt) {
            continue;
        }
        if (const std::uint64_t* picture = pictureOfSlice.find(entry.parentSliceId)) {
            std::vector<std::int32_t>& pocs = missingPocs[*picture];
            const std::int32_t poc = entry.poc.value_or(0);
            if (std::find(pocs.begin(), pocs.end(), poc) == pocs.end()) {
                pocs.push_back(poc);
            }
        }
    }
    for (const auto& [pictureIdentity, pocs] : missingPocs) {
        analysis::PictureAnalysisSummary* picture = pictureOf(pictureIdentity);
        if (picture == nullptr) {
            continue;
        }
        picture->completeness = analysis::PictureCompleteness::Failed;
        std::string pocText;
        for (const std::int32_t poc : pocs) {
            if (!pocText.empty()) {
                pocText += ',';
            }
            pocText += std::to_string(poc);
        }
        document_.errors.push_back(pictureIssueRecord(document_.id, *picture, ObjectKind::MissingReferenceIssue,
                                                      codes::kPictureReferenceMissing,
                                                      codes::kPictureReferenceMissingMessage,
                                                      "missingReferencePocs=" + pocText));
    }
}

// A slice segment the syntax parser refused is a gap in its picture, which the decoder may
// still have put out: the error goes with that picture, and the picture is no longer whole.
void DocumentBuilder::markPicturesOfRefusedSlices()
{
    for (const RefusedSlice& refused : refusedSlices_) {
        const std::optional<std::uint64_t> pictureIdentity = document_.nalUnits[refused.nalPosition].pictureId;
        analysis::PictureAnalysisSummary* picture = pictureIdentity ? pictureOf(*pictureIdentity) : nullptr;
        if (picture == nullptr) {
            continue;
        }
        analysis::AnalysisErrorInfo& error = document_.errors[refused.errorPosition];
        error.relatedObjectId = picture->id;
        error.detail += "; " + pictureNamed(*picture);
        if (picture->completeness == analysis::PictureCompleteness::Complete) {
            picture->completeness = analysis::PictureCompleteness::Partial;
        }
    }
}

// The output event of a picture whose first slice segment header was refused carries no POC
// worth the name; the picture's POC is what its slices say, and none of them could say it.
void DocumentBuilder::forgetPocsOfUnreadPictures()
{
    std::unordered_set<std::uint64_t> picturesWithPoc;
    std::unordered_set<std::uint64_t> picturesWithSlices;
    for (const analysis::SliceInfo& slice : document_.slices) {
        if (slice.pictureId) {
            picturesWithSlices.insert(*slice.pictureId);
            if (slice.poc) {
                picturesWithPoc.insert(*slice.pictureId);
            }
        }
    }
    for (analysis::PictureAnalysisSummary& picture : document_.pictures) {
        if (picture.pictureId && picturesWithSlices.contains(*picture.pictureId) &&
            !picturesWithPoc.contains(*picture.pictureId)) {
            picture.poc.reset();
        }
    }
}

}  // namespace vexilo::analyzer
