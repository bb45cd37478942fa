#include "vexilo/analysis/cache/CacheWriter.h"


#include <cstddef>
#include <optional>
#include <unordered_map>

namespace vexilo::analysis {
namespace {

using DocumentIndex = std::size_t;
using OwnerTable = std::unordered_map<StableId, DocumentIndex, StableIdHash>;

// Which picture document a slice belongs to, by the summary's keys; the first
// summary that carries a key keeps it.
struct PictureKeyTables {
    std::unordered_map<std::uint64_t, DocumentIndex> byPictureId;
    std::unordered_map<std::int64_t, DocumentIndex> byDisplayIndex;
    std::unordered_map<std::int32_t, DocumentIndex> byPoc;
};

StreamAnalysis withRootFields(const StreamAnalysis& analysis)
{
    StreamAnalysis document;
    document.id = analysis.id;
    document.schemaVersion = analysis.schemaVersion;
    document.minimumReaderVersion = analysis.minimumReaderVersion;
    document.compactId = analysis.compactId;
    document.sourceFingerprint = analysis.sourceFingerprint;
    document.profile = analysis.profile;
    document.width = analysis.width;
    document.height = analysis.height;
    document.bitDepth = analysis.bitDepth;
    return document;
}

template <typename Key>
std::optional<DocumentIndex> lookUp(const std::unordered_map<Key, DocumentIndex>& table,
                                    const std::optional<Key>& key)
{
    if (!key) {
        return std::nullopt;
    }
    const auto found = table.find(*key);
    return found == table.end() ? std::nullopt : std::optional<DocumentIndex>(found->second);
}

std::optional<DocumentIndex> lookUp(const OwnerTable& owners, const std::optional<StableId>& id)
{
    if (!id) {
        return std::nullopt;
    }
    const auto found = owners.find(*id);
    return found == owners.end() ? std::nullopt : std::optional<DocumentIndex>(found->second);
}

std::optional<DocumentIndex> firstFound(std::optional<DocumentIndex> first,
                                        std::optional<DocumentIndex> second)
{
    return first ? first : second;
}

class PictureDistributor {
public:
    explicit PictureDistributor(const StreamAnalysis& analysis) : analysis_(analysis) {}

    std::vector<StreamAnalysis> distribute()
    {
        createPictureDocuments();
        placeSlices();
        placeByParent(&StreamAnalysis::referencePictures, &ReferencePictureEntry::parentSliceId);
        placeByParent(&StreamAnalysis::shortTermReferencePictures,
                      &ShortTermReferencePictureEntry::parentSliceId);
        placeByParent(&StreamAnalysis::longTermReferencePictures,
                      &LongTermReferencePictureEntry::parentSliceId);
        placeByParent(&StreamAnalysis::dpbSnapshotEntries, &DpbSnapshotEntry::parentSliceId);
        place(&StreamAnalysis::nalUnits, [this](const NalUnitInfo& unit) {
            return firstFound(lookUp(keys_.byPictureId, unit.pictureId),
                              lookUp(owners_, std::optional<StableId>(unit.id)));
        });
        place(&StreamAnalysis::seiMessages, [this](const SeiMessageInfo& message) {
            return firstFound(lookUp(keys_.byPictureId, message.pictureId),
                              lookUp(owners_, std::optional<StableId>(message.parentNalUnitId)));
        });
        placeByParent(&StreamAnalysis::ctus, &CtuInfo::parentPictureSummaryId);
        placeByParent(&StreamAnalysis::cus, &CuInfo::parentCtuId);
        placeByParent(&StreamAnalysis::pus, &PuInfo::parentCuId);
        placeByParent(&StreamAnalysis::tus, &TuInfo::parentCuId);
        placeByParent(&StreamAnalysis::motionVectors, &MotionVectorInfo::parentPuId);
        // An error makes no owner entry: nothing hangs below it.
        place(
            &StreamAnalysis::errors,
            [this](const AnalysisErrorInfo& error) {
                return lookUp(owners_, error.relatedObjectId);
            },
            /*recordOwner=*/false);
        return std::move(documents_);
    }

private:
    // Sized once: a long stream places millions of records, and growing the tables as they
    // come would rehash them again and again.
    void reserveTables()
    {
        const std::size_t pictures = analysis_.pictures.size();
        documents_.reserve(pictures);
        owners_.reserve(pictures + 2 * analysis_.slices.size() + analysis_.referencePictures.size() +
                        analysis_.shortTermReferencePictures.size() +
                        analysis_.longTermReferencePictures.size() + analysis_.dpbSnapshotEntries.size() +
                        analysis_.nalUnits.size() + analysis_.seiMessages.size() + analysis_.ctus.size() +
                        analysis_.cus.size() + analysis_.pus.size() + analysis_.tus.size() +
                        analysis_.motionVectors.size());
        keys_.byPictureId.reserve(pictures);
        keys_.byDisplayIndex.reserve(pictures);
        keys_.byPoc.reserve(pictures);
    }

    void createPictureDocuments()
    {
        reserveTables();
        for (DocumentIndex index = 0; index < analysis_.pictures.size(); ++index) {
            const PictureAnalysisSummary& summary = analysis_.pictures[index];
            StreamAnalysis document = withRootFields(analysis_);
            document.pictures.push_back(summary);
            documents_.push_back(std::move(document));
            owners_.emplace(summary.id, index);
            if (summary.pictureId) {
                keys_.byPictureId.emplace(*summary.pictureId, index);
            }
            if (summary.displayIndex) {
                keys_.byDisplayIndex.emplace(*summary.displayIndex, index);
            }
            if (summary.poc) {
                keys_.byPoc.emplace(*summary.poc, index);
            }
        }
    }

    void placeSlices()
    {
        for (const SliceInfo& slice : analysis_.slices) {
            const auto owner =
                firstFound(firstFound(lookUp(keys_.byPictureId, slice.pictureId),
                                      lookUp(keys_.byDisplayIndex, slice.displayIndex)),
                           lookUp(keys_.byPoc, slice.poc));
            if (!owner) {
                continue;
            }
            documents_[*owner].slices.push_back(slice);
            owners_.emplace(slice.id, *owner);
            // The slice draws its NAL unit into the same document.
            owners_.emplace(slice.parentNalUnitId, *owner);
        }
    }

    template <typename Record, typename FindOwner>
    void place(std::vector<Record> StreamAnalysis::*collection, FindOwner findOwner,
               bool recordOwner = true)
    {
        for (const Record& record : analysis_.*collection) {
            const std::optional<DocumentIndex> owner = findOwner(record);
            if (!owner) {
                continue;
            }
            (documents_[*owner].*collection).push_back(record);
            if (recordOwner) {
                owners_.emplace(record.id, *owner);
            }
        }
    }

    template <typename Record>
    void placeByParent(std::vector<Record> StreamAnalysis::*collection, StableId Record::*parent)
    {
        place(collection, [this, parent](const Record& record) {
            return lookUp(owners_, std::optional<StableId>(record.*parent));
        });
    }

    const StreamAnalysis& analysis_;
    std::vector<StreamAnalysis> documents_;
    OwnerTable owners_;
    PictureKeyTables keys_;
};

}  // namespace

bool hasBlockStructure(const StreamAnalysis& document) noexcept
{
    return !document.ctus.empty() || !document.cus.empty() || !document.pus.empty() ||
           !document.tus.empty() || !document.motionVectors.empty();
}

void clearBlockStructure(StreamAnalysis& document) noexcept
{
    document.ctus.clear();
    document.cus.clear();
    document.pus.clear();
    document.tus.clear();
    document.motionVectors.clear();
}

StreamAnalysis buildStreamMetaDocument(const StreamAnalysis& analysis)
{
    StreamAnalysis document = withRootFields(analysis);
    document.nalUnits = analysis.nalUnits;
    document.parameterSets = analysis.parameterSets;
    document.seiMessages = analysis.seiMessages;
    document.pictures = analysis.pictures;
    for (const AnalysisErrorInfo& error : analysis.errors) {
        if (!error.relatedObjectId) {
            document.errors.push_back(error);
        }
    }
    return document;
}

std::vector<StreamAnalysis> buildPictureDocument(const StreamAnalysis& analysis)
{
    return PictureDistributor(analysis).distribute();
}

void mergeExistingPictureStructure(StreamAnalysis& newDoc, const StreamAnalysis& cachedDoc)
{
    if (hasBlockStructure(newDoc) || !hasBlockStructure(cachedDoc)) {
        return;
    }
    newDoc.ctus = cachedDoc.ctus;
    newDoc.cus = cachedDoc.cus;
    newDoc.pus = cachedDoc.pus;
    newDoc.tus = cachedDoc.tus;
    newDoc.motionVectors = cachedDoc.motionVectors;
    if (newDoc.pictures.size() == 1 && cachedDoc.pictures.size() == 1) {
        PictureAnalysisSummary& target = newDoc.pictures.front();
        const PictureAnalysisSummary& cached = cachedDoc.pictures.front();
        target.ctuCount = cached.ctuCount;
        target.cuCount = cached.cuCount;
        target.puCount = cached.puCount;
        target.tuCount = cached.tuCount;
    }
}

}  // namespace vexilo::analysis
