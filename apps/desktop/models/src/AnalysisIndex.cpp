#include "vexilo/models/AnalysisIndex.h"

#include <utility>

namespace vexilo {
namespace {

using analysis::StableId;

template <typename Table, typename Record>
const Record* findIn(Table& table, const std::vector<Record>& records, const StableId& id) {
    if (!table.has_value()) {
        auto& map = table.emplace();
        map.reserve(records.size());
        for (const Record& record : records) {
            map.try_emplace(record.id, &record);  // the first object with an identity wins
        }
    }
    const auto found = table->find(id);
    return found == table->end() ? nullptr : found->second;
}

// `parentOf` gives a record's parent identity, or null when it names none.
template <typename Table, typename Record, typename ParentOf>
std::size_t countIn(Table& table, const std::vector<Record>& records, const StableId& parentId, ParentOf parentOf) {
    if (!table.has_value()) {
        auto& map = table.emplace();
        for (const Record& record : records) {
            if (const StableId* parent = parentOf(record); parent != nullptr) {
                ++map[*parent];
            }
        }
    }
    const auto found = table->find(parentId);
    return found == table->end() ? 0 : found->second;
}

template <typename Table, typename Record>
std::vector<const Record*> bucketIn(Table& table, const std::vector<Record>& records, const StableId& sliceId) {
    if (!table.has_value()) {
        auto& map = table.emplace();
        for (const Record& record : records) {
            map[record.parentSliceId].push_back(&record);
        }
    }
    const auto found = table->find(sliceId);
    return found == table->end() ? std::vector<const Record*>{} : found->second;
}

template <typename Record>
const StableId* parentCtuOf(const Record& record) {
    return &record.parentCtuId;
}

template <typename Record>
const StableId* parentCuOf(const Record& record) {
    return &record.parentCuId;
}

const StableId* optionalParent(const std::optional<StableId>& parent) {
    return parent.has_value() ? &*parent : nullptr;
}

}  // namespace

AnalysisIndex::AnalysisIndex(std::shared_ptr<const analysis::StreamAnalysis> analysis)
    : analysis_(analysis ? std::move(analysis) : std::make_shared<const analysis::StreamAnalysis>()) {}

const analysis::NalUnitInfo* AnalysisIndex::nalUnit(const StableId& id) const {
    return findIn(nalUnits_, analysis_->nalUnits, id);
}
const analysis::ParameterSetInfo* AnalysisIndex::parameterSet(const StableId& id) const {
    return findIn(parameterSets_, analysis_->parameterSets, id);
}
const analysis::SeiMessageInfo* AnalysisIndex::seiMessage(const StableId& id) const {
    return findIn(seiMessages_, analysis_->seiMessages, id);
}
const analysis::SliceInfo* AnalysisIndex::slice(const StableId& id) const {
    return findIn(slices_, analysis_->slices, id);
}
const analysis::PictureAnalysisSummary* AnalysisIndex::picture(const StableId& id) const {
    return findIn(pictures_, analysis_->pictures, id);
}
const analysis::CtuInfo* AnalysisIndex::ctu(const StableId& id) const {
    return findIn(ctus_, analysis_->ctus, id);
}
const analysis::CuInfo* AnalysisIndex::cu(const StableId& id) const {
    return findIn(cus_, analysis_->cus, id);
}
const analysis::PuInfo* AnalysisIndex::pu(const StableId& id) const {
    return findIn(pus_, analysis_->pus, id);
}
const analysis::TuInfo* AnalysisIndex::tu(const StableId& id) const {
    return findIn(tus_, analysis_->tus, id);
}
const analysis::MotionVectorInfo* AnalysisIndex::motionVector(const StableId& id) const {
    return findIn(motionVectors_, analysis_->motionVectors, id);
}

std::size_t AnalysisIndex::cuCountOfCtu(const StableId& ctuId) const {
    return countIn(cusPerCtu_, analysis_->cus, ctuId, parentCtuOf<analysis::CuInfo>);
}
std::size_t AnalysisIndex::childCuCountOfCu(const StableId& cuId) const {
    return countIn(cusPerCu_, analysis_->cus, cuId,
                   [](const analysis::CuInfo& cu) { return optionalParent(cu.parentCuId); });
}
std::size_t AnalysisIndex::puCountOfCu(const StableId& cuId) const {
    return countIn(pusPerCu_, analysis_->pus, cuId, parentCuOf<analysis::PuInfo>);
}
std::size_t AnalysisIndex::tuCountOfCu(const StableId& cuId) const {
    return countIn(tusPerCu_, analysis_->tus, cuId, parentCuOf<analysis::TuInfo>);
}
std::size_t AnalysisIndex::childTuCountOfTu(const StableId& tuId) const {
    return countIn(tusPerTu_, analysis_->tus, tuId,
                   [](const analysis::TuInfo& tu) { return optionalParent(tu.parentTuId); });
}
std::size_t AnalysisIndex::motionVectorCountOfPu(const StableId& puId) const {
    return countIn(motionVectorsPerPu_, analysis_->motionVectors, puId,
                   [](const analysis::MotionVectorInfo& mv) { return &mv.parentPuId; });
}

std::vector<const analysis::ShortTermReferencePictureEntry*> AnalysisIndex::shortTermEntriesOf(
    const StableId& sliceId) const {
    return bucketIn(shortTermBySlice_, analysis_->shortTermReferencePictures, sliceId);
}
std::vector<const analysis::LongTermReferencePictureEntry*> AnalysisIndex::longTermEntriesOf(
    const StableId& sliceId) const {
    return bucketIn(longTermBySlice_, analysis_->longTermReferencePictures, sliceId);
}
std::vector<const analysis::ReferencePictureEntry*> AnalysisIndex::referenceEntriesOf(const StableId& sliceId) const {
    return bucketIn(referencesBySlice_, analysis_->referencePictures, sliceId);
}
std::vector<const analysis::DpbSnapshotEntry*> AnalysisIndex::dpbEntriesOf(const StableId& sliceId) const {
    return bucketIn(dpbBySlice_, analysis_->dpbSnapshotEntries, sliceId);
}

}  // namespace vexilo
