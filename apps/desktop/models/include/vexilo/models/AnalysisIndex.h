#pragma once

#include "vexilo/analysis/StreamAnalysis.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vexilo {

// Lookups into one immutable analysis document: objects by identity (the first object of a
// collection with that identity, as a walk from the front would find it), child counts by
// parent and a slice's reference entries. Each table is built on first use, in one pass over
// its collection, so that explaining any number of blocks never rescans the document.
class AnalysisIndex {
public:
    // A null document stands for the empty one.
    explicit AnalysisIndex(std::shared_ptr<const analysis::StreamAnalysis> analysis = {});

    [[nodiscard]] const analysis::StreamAnalysis& analysis() const noexcept { return *analysis_; }

    [[nodiscard]] const analysis::NalUnitInfo* nalUnit(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::ParameterSetInfo* parameterSet(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::SeiMessageInfo* seiMessage(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::SliceInfo* slice(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::PictureAnalysisSummary* picture(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::CtuInfo* ctu(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::CuInfo* cu(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::PuInfo* pu(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::TuInfo* tu(const analysis::StableId& id) const;
    [[nodiscard]] const analysis::MotionVectorInfo* motionVector(const analysis::StableId& id) const;

    [[nodiscard]] std::size_t cuCountOfCtu(const analysis::StableId& ctuId) const;
    [[nodiscard]] std::size_t childCuCountOfCu(const analysis::StableId& cuId) const;
    [[nodiscard]] std::size_t puCountOfCu(const analysis::StableId& cuId) const;
    [[nodiscard]] std::size_t tuCountOfCu(const analysis::StableId& cuId) const;
    [[nodiscard]] std::size_t childTuCountOfTu(const analysis::StableId& tuId) const;
    [[nodiscard]] std::size_t motionVectorCountOfPu(const analysis::StableId& puId) const;

    // The entries of a slice, in collection order.
    [[nodiscard]] std::vector<const analysis::ShortTermReferencePictureEntry*> shortTermEntriesOf(
        const analysis::StableId& sliceId) const;
    [[nodiscard]] std::vector<const analysis::LongTermReferencePictureEntry*> longTermEntriesOf(
        const analysis::StableId& sliceId) const;
    [[nodiscard]] std::vector<const analysis::ReferencePictureEntry*> referenceEntriesOf(
        const analysis::StableId& sliceId) const;
    [[nodiscard]] std::vector<const analysis::DpbSnapshotEntry*> dpbEntriesOf(const analysis::StableId& sliceId) const;

private:
    template <typename Record>
    using IdTable = std::optional<std::unordered_map<analysis::StableId, const Record*, analysis::StableIdHash>>;
    using CountTable = std::optional<std::unordered_map<analysis::StableId, std::size_t, analysis::StableIdHash>>;
    template <typename Record>
    using BucketTable =
        std::optional<std::unordered_map<analysis::StableId, std::vector<const Record*>, analysis::StableIdHash>>;

    std::shared_ptr<const analysis::StreamAnalysis> analysis_;
    mutable IdTable<analysis::NalUnitInfo> nalUnits_;
    mutable IdTable<analysis::ParameterSetInfo> parameterSets_;
    mutable IdTable<analysis::SeiMessageInfo> seiMessages_;
    mutable IdTable<analysis::SliceInfo> slices_;
    mutable IdTable<analysis::PictureAnalysisSummary> pictures_;
    mutable IdTable<analysis::CtuInfo> ctus_;
    mutable IdTable<analysis::CuInfo> cus_;
    mutable IdTable<analysis::PuInfo> pus_;
    mutable IdTable<analysis::TuInfo> tus_;
    mutable IdTable<analysis::MotionVectorInfo> motionVectors_;
    mutable CountTable cusPerCtu_;
    mutable CountTable cusPerCu_;
    mutable CountTable pusPerCu_;
    mutable CountTable tusPerCu_;
    mutable CountTable tusPerTu_;
    mutable CountTable motionVectorsPerPu_;
    mutable BucketTable<analysis::ShortTermReferencePictureEntry> shortTermBySlice_;
    mutable BucketTable<analysis::LongTermReferencePictureEntry> longTermBySlice_;
    mutable BucketTable<analysis::ReferencePictureEntry> referencesBySlice_;
    mutable BucketTable<analysis::DpbSnapshotEntry> dpbBySlice_;
};

}  // namespace vexilo
