// The acceptance check of the block-level parser: for every reference stream and x265 clip,
// the CU, TU and PU rectangles, QPs, prediction modes, intra modes and motion vectors our
// observer reports, rendered like libde265 renders its own, equal libde265's bitmaps
// picture by picture.
#include "oracle/De265Oracle.h"
#include "oracle/DocumentRendering.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vexilo::hevc::oracle {
namespace {

using analysis::StableId;

// The block part of a document, straight from the observer's events: just what the
// rendering reads. Output order comes from the picture output events' display index.
class BlockDocument {
public:
    explicit BlockDocument(const test::EventRecorder& events)
    {
        for (const auto& output : events.ofKind<VexiloObserverPictureOutputEvent>(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT)) {
            addPicture(output);
        }
        for (const auto& ctu : events.ofKind<VexiloObserverCtuEvent>(VEXILO_OBSERVER_EVENT_CTU)) {
            addCtu(ctu);
        }
        for (const auto& cu : events.ofKind<VexiloObserverCuEvent>(VEXILO_OBSERVER_EVENT_CU)) {
            addCu(cu);
        }
        for (const auto& pu : events.ofKind<VexiloObserverPuEvent>(VEXILO_OBSERVER_EVENT_PU)) {
            addPu(pu);
        }
        for (const auto& tu : events.ofKind<VexiloObserverTuEvent>(VEXILO_OBSERVER_EVENT_TU)) {
            addTu(tu);
        }
    }

    [[nodiscard]] const analysis::StreamAnalysis& document() const { return document_; }
    [[nodiscard]] bool hasBlocks() const { return !document_.cus.empty(); }

private:
    static analysis::BlockRect rectOf(const VexiloObserverBlockBounds& bounds)
    {
        return {static_cast<std::int32_t>(bounds.x), static_cast<std::int32_t>(bounds.y), bounds.width, bounds.height,
                analysis::kBlockRectUnitLumaSample};
    }
    static analysis::PredictionMode modeOf(std::uint32_t code)
    {
        return code >= VEXILO_OBSERVER_PRED_MODE_INTRA && code <= VEXILO_OBSERVER_PRED_MODE_SKIP
                   ? static_cast<analysis::PredictionMode>(code)
                   : analysis::PredictionMode::Unknown;
    }
    StableId next() { return {0, ++counter_}; }

    void addPicture(const VexiloObserverPictureOutputEvent& output)
    {
        if (pictures_.contains(output.pictureIdentity)) {
            return;
        }
        analysis::PictureAnalysisSummary picture;
        picture.id = next();
        picture.displayIndex = output.header.displayIndex;
        pictures_[output.pictureIdentity] = picture.id;
        document_.pictures.push_back(picture);
    }

    void addCtu(const VexiloObserverCtuEvent& event)
    {
        const auto picture = pictures_.find(event.pictureIdentity);
        if (picture == pictures_.end()) {
            return;
        }
        analysis::CtuInfo ctu;
        ctu.id = next();
        ctu.parentPictureSummaryId = picture->second;
        ctu.bounds = rectOf(event.bounds);
        ctus_[{event.pictureIdentity, event.ctuAddress}] = ctu.id;
        document_.ctus.push_back(ctu);
    }

    void addCu(const VexiloObserverCuEvent& event)
    {
        const auto ctu = ctus_.find({event.pictureIdentity, event.ctuAddress});
        if (ctu == ctus_.end()) {
            return;
        }
        analysis::CuInfo cu;
        cu.id = next();
        cu.parentCtuId = ctu->second;
        cu.bounds = rectOf(event.bounds);
        if (event.presentMask & VEXILO_OBSERVER_CU_SPLIT) {
            cu.split = event.split != 0;
        }
        if (event.presentMask & VEXILO_OBSERVER_CU_SKIP) {
            cu.skip = event.skip != 0;
        }
        if (event.presentMask & VEXILO_OBSERVER_CU_PREDICTION_MODE) {
            cu.predictionMode = modeOf(event.predictionMode);
        }
        if (event.presentMask & VEXILO_OBSERVER_CU_QP) {
            cu.qp = static_cast<std::int16_t>(event.qp);
        }
        if (event.presentMask & VEXILO_OBSERVER_CU_PCM) {
            cu.pcm = event.pcm != 0;
        }
        cus_[{event.pictureIdentity, event.cuIdentity}] = cu.id;
        document_.cus.push_back(cu);
    }

    void addPu(const VexiloObserverPuEvent& event)
    {
        const auto cu = cus_.find({event.pictureIdentity, event.cuIdentity});
        if (cu == cus_.end()) {
            return;
        }
        analysis::PuInfo pu;
        pu.id = next();
        pu.parentCuId = cu->second;
        pu.bounds = rectOf(event.bounds);
        pu.partIndex = static_cast<std::uint8_t>(event.partIndex);
        if (event.presentMaskB & VEXILO_OBSERVER_PU_B_PREDICTION_MODE) {
            pu.predictionMode = modeOf(event.predictionMode);
        }
        if (event.presentMaskB & VEXILO_OBSERVER_PU_B_INTRA_LUMA_MODE) {
            pu.intraLumaMode = static_cast<std::uint8_t>(event.intraLumaMode);
        }
        document_.pus.push_back(pu);
        addVector(pu.id, analysis::ReferenceList::L0, event.mvL0, (event.presentMaskB & VEXILO_OBSERVER_PU_B_MV_L0) != 0);
        addVector(pu.id, analysis::ReferenceList::L1, event.mvL1, (event.presentMaskB & VEXILO_OBSERVER_PU_B_MV_L1) != 0);
    }

    void addVector(const StableId& pu, analysis::ReferenceList list, const VexiloObserverMotionVector& mv, bool present)
    {
        if (!present) {
            return;
        }
        analysis::MotionVectorInfo vector;
        vector.id = next();
        vector.parentPuId = pu;
        vector.list = list;
        vector.mvX = mv.x;
        vector.mvY = mv.y;
        vector.unit = analysis::MotionVectorUnit::QuarterLumaSample;
        document_.motionVectors.push_back(vector);
    }

    void addTu(const VexiloObserverTuEvent& event)
    {
        const auto cu = cus_.find({event.pictureIdentity, event.cuIdentity});
        if (cu == cus_.end()) {
            return;
        }
        analysis::TuInfo tu;
        tu.id = next();
        tu.parentCuId = cu->second;
        tu.bounds = rectOf(event.bounds);
        if (event.presentMask & VEXILO_OBSERVER_TU_SPLIT) {
            tu.split = event.split != 0;
        }
        document_.tus.push_back(tu);
    }

    analysis::StreamAnalysis document_;
    std::uint64_t counter_ = 0;
    std::map<std::uint64_t, StableId> pictures_;
    std::map<std::pair<std::uint64_t, std::uint32_t>, StableId> ctus_;
    std::map<std::pair<std::uint64_t, std::uint64_t>, StableId> cus_;
};

std::vector<std::filesystem::path> acceptanceStreams()
{
    std::vector<std::filesystem::path> streams;
    for (const auto& row : test::readReferenceStreamManifest()) {
        streams.push_back(test::referenceStreamsDir() / row.file);
    }
    for (const char* clip :
         {"main_420_8bit_gop8.hevc", "main10_420_10bit.hevc", "rext_422_10bit.hevc", "rext_444_8bit.hevc",
          "mono_400_8bit.hevc", "wavefront_slices.hevc", "lossless.hevc", "amp_weighted_sei.hevc",
          "odd_size_intra.hevc", "quality_high.hevc", "quality_low.hevc", "observer_444_12bit_intra.hevc",
          "observer_422_12bit.hevc", "observer_open_gop_pyramid.hevc", "observer_tools_420_8bit.hevc",
          "observer_slices_wpp_10bit.hevc", "oracle_csv_qp.hevc"}) {
        streams.push_back(test::testMediaDir() / clip);
    }
    return streams;
}

std::string streamName(const ::testing::TestParamInfo<std::filesystem::path>& param)
{
    std::string name = param.param.stem().string();
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return name;
}

class ObserverBlocksMatchLibde265 : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(ObserverBlocksMatchLibde265, EveryPictureRendersAsLibde265DrawsIt)
{
    const auto& path = GetParam();
    test::EventRecorder recorder;
    const test::DecodeRun run = test::decodeWithObserver(path, recorder, VEXILO_OBSERVER_EVENT_MASK_ALL);
    ASSERT_TRUE(run.opened) << run.error;
    const BlockDocument blocks(recorder);
    ASSERT_TRUE(blocks.hasBlocks());
    OracleRun oracle = renderWithDe265(test::readFile(path));
    ASSERT_TRUE(oracle.error.empty()) << oracle.error;
    auto ours = renderDocument(blocks.document());
    clearIntraModesOverPcmBlocks(oracle.pictures, ours, blocks.document());
    const auto mismatch = firstMismatch(oracle.pictures, ours);
    EXPECT_FALSE(mismatch) << describe(*mismatch);
}

INSTANTIATE_TEST_SUITE_P(AllStreams, ObserverBlocksMatchLibde265, ::testing::ValuesIn(acceptanceStreams()),
                         streamName);

} // namespace
} // namespace vexilo::hevc::oracle
