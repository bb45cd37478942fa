// Turns the slice data parser's block records into CTU, CU, PU and TU events. A CTU's CU, PU
// and TU events go out first and its CTU event last, so that a receiver can stage the blocks
// until the CTU commits them; a CU whose parse did not finish sends nothing.
#pragma once

#include "event_writer.h"
#include "parameter_sets.h"
#include "reference_status.h"
#include "slice_data/slice_data_parser.h"
#include "slice_header.h"

#include <vexilo/hevc_observer/observer_abi.h>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace vexilo::hevc {

// Identity of a coding quadtree or transform tree node: its position and size say which node
// it is whatever the parse order, and the tag keeps it non-zero.
std::uint64_t blockTreeIdentity(std::uint32_t x0, std::uint32_t y0, std::uint32_t log2Size);
// The enclosing node one level up in the same tree.
std::uint64_t parentBlockTreeIdentity(std::uint32_t x0, std::uint32_t y0, std::uint32_t log2Size);

struct SliceBlockFacts {
    const Sps* sps = nullptr;
    const Pps* pps = nullptr;
    const PictureLayout* layout = nullptr;
    const SliceSegmentHeader* header = nullptr;
    std::uint64_t sliceIdentity = 0;
    std::uint64_t pictureIdentity = 0;
    EventStamp stamp;
    // For the final motion vectors; without lists they stay unknown.
    std::int32_t PicOrderCntVal = 0;
    derivations::RefPicLists RefPicList;
    // VEXILO_OBSERVER_REFERENCE_* of each RefPicList entry, for the prediction units using it.
    RefPicListStatuses referenceStatus;
};

using BlockEventDelivery = std::function<void(VexiloObserverEventHeader&)>;

class BlockEventWriter final : public slice_data::BlockSink {
public:
    BlockEventWriter(const SliceBlockFacts& facts, BlockEventDelivery deliver);

    void codingQuadtreeNode(const slice_data::CodingQuadtreeNode& node) override;
    void predictionUnit(const slice_data::PredictionUnit& pu) override;
    void transformTreeNode(const slice_data::TransformTreeNode& node) override;
    void codingUnit(const slice_data::CodingUnit& cu) override;
    void codingTreeUnit(const slice_data::CodingTreeUnit& ctu) override;

private:
    template <typename Event>
    Event makeBlockEvent(std::uint32_t kind, std::uint32_t x0, std::uint32_t y0, std::uint32_t width,
                         std::uint32_t height) const;
    template <typename Node>
    VexiloObserverCuEvent makeQuadtreeEvent(const Node& node) const;
    VexiloObserverPuEvent makePredictionEvent(const slice_data::CodingUnit& cu, std::uint32_t x0, std::uint32_t y0,
                                              std::uint32_t width, std::uint32_t height, std::uint32_t partIdx) const;
    void sendInterPredictionUnit(const slice_data::CodingUnit& cu, const slice_data::PredictionUnit& pu);
    void sendIntraPredictionUnits(const slice_data::CodingUnit& cu);
    void sendTransformNode(const slice_data::CodingUnit& cu, const slice_data::TransformTreeNode& node);
    template <typename Event>
    void send(Event& event)
    {
        deliver_(event.header);
    }

    SliceBlockFacts facts_;
    BlockEventDelivery deliver_;
    // The current CU's records, held back until the CU itself is complete.
    std::vector<slice_data::PredictionUnit> pendingPus_;
    std::vector<slice_data::TransformTreeNode> pendingTransformNodes_;
};

// Parses the slice segment's data (`sliceData` from the first byte of slice_segment_data())
// and delivers its block events.
slice_data::SliceDataResult writeSliceBlockEvents(const SliceBlockFacts& facts, std::span<const std::uint8_t> sliceData,
                                                  slice_data::PictureBlockState& state,
                                                  const BlockEventDelivery& deliver);

} // namespace vexilo::hevc
