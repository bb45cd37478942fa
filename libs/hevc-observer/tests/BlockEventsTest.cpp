// CTU, CU, PU and TU events of real streams as the collector receives them: every CTU's
// blocks arrive before the CTU event that commits them, every block names a parent of the
// same CTU, leaf CUs tile the picture and PUs and transform leaves tile their CU; asking for
// block events changes nothing of the stream-level events.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <fstream>
#include <functional>
#include <map>
#include <set>

namespace vexilo::hevc::test {
namespace {

const VexiloObserverEventHeader& headerOf(const std::vector<std::uint8_t>& bytes)
{
    return *reinterpret_cast<const VexiloObserverEventHeader*>(bytes.data());
}

template <typename Event>
Event eventOf(const std::vector<std::uint8_t>& bytes)
{
    Event event{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), sizeof(Event)), reinterpret_cast<std::uint8_t*>(&event));
    return event;
}

bool isBlockKind(std::uint32_t kind) { return kind >= VEXILO_OBSERVER_EVENT_CTU && kind <= VEXILO_OBSERVER_EVENT_TU; }

// The event bytes that must repeat from run to run: the SEI payload address is valid only
// during its callback.
std::vector<std::uint8_t> comparable(std::vector<std::uint8_t> bytes)
{
    if (headerOf(bytes).kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE) {
        constexpr std::size_t kPayloadAddress = offsetof(VexiloObserverSeiMessageEvent, payload);
        std::fill_n(bytes.begin() + kPayloadAddress, sizeof(void*), std::uint8_t{0});
    }
    return bytes;
}

std::uint64_t areaOf(const VexiloObserverBlockBounds& b) { return std::uint64_t{b.width} * b.height; }

bool contains(const VexiloObserverBlockBounds& outer, const VexiloObserverBlockBounds& inner)
{
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

// One CTU's events as delivered between two CTU events.
struct CtuBatch {
    VexiloObserverCtuEvent ctu{};
    std::vector<VexiloObserverCuEvent> cus;
    std::vector<VexiloObserverPuEvent> pus;
    std::vector<VexiloObserverTuEvent> tus;
};

struct BlockView {
    std::vector<CtuBatch> batches;
    std::vector<std::string> failures;
};

// Splits the delivered block events into CTU batches; blocks must carry the picture and CTU
// address of the CTU event that follows them.
BlockView batchesOf(const EventRecorder& recorder)
{
    BlockView view;
    CtuBatch open;
    std::size_t openBlocks = 0;
    auto belongs = [&](std::uint64_t picture, std::uint32_t ctuAddress, const char* what) {
        if (picture != open.ctu.pictureIdentity || ctuAddress != open.ctu.ctuAddress) {
            view.failures.push_back(std::string(what) + " of picture " + std::to_string(picture) + " CTU " +
                                    std::to_string(ctuAddress) + " arrived before the CTU event of another CTU");
        }
    };
    for (const auto& bytes : recorder.events) {
        switch (headerOf(bytes).kind) {
        case VEXILO_OBSERVER_EVENT_CU:
            open.cus.push_back(eventOf<VexiloObserverCuEvent>(bytes));
            ++openBlocks;
            break;
        case VEXILO_OBSERVER_EVENT_PU:
            open.pus.push_back(eventOf<VexiloObserverPuEvent>(bytes));
            ++openBlocks;
            break;
        case VEXILO_OBSERVER_EVENT_TU:
            open.tus.push_back(eventOf<VexiloObserverTuEvent>(bytes));
            ++openBlocks;
            break;
        case VEXILO_OBSERVER_EVENT_CTU:
            open.ctu = eventOf<VexiloObserverCtuEvent>(bytes);
            for (const auto& cu : open.cus) {
                belongs(cu.pictureIdentity, cu.ctuAddress, "CU");
            }
            for (const auto& pu : open.pus) {
                belongs(pu.pictureIdentity, pu.ctuAddress, "PU");
            }
            for (const auto& tu : open.tus) {
                belongs(tu.pictureIdentity, tu.ctuAddress, "TU");
            }
            view.batches.push_back(std::move(open));
            open = CtuBatch{};
            openBlocks = 0;
            break;
        default:
            break;
        }
    }
    if (openBlocks != 0) {
        view.failures.push_back(std::to_string(openBlocks) + " block events without a CTU event behind them");
    }
    return view;
}

// Parent links, containment and tiling inside one CTU.
void checkBatch(const CtuBatch& batch, std::vector<std::string>& failures)
{
    const std::string where = "picture " + std::to_string(batch.ctu.pictureIdentity) + " CTU " +
                              std::to_string(batch.ctu.ctuAddress) + ": ";
    if (batch.ctu.parseStatus != VEXILO_OBSERVER_PARSE_STATUS_PARSED) {
        failures.push_back(where + "not parsed");
    }
    std::map<std::uint64_t, VexiloObserverCuEvent> cus;
    std::uint64_t leafArea = 0;
    for (const auto& cu : batch.cus) {
        if (cu.cuIdentity == 0 || !cus.emplace(cu.cuIdentity, cu).second) {
            failures.push_back(where + "CU identity 0 or repeated");
        }
        if (!contains(batch.ctu.bounds, cu.bounds)) {
            failures.push_back(where + "CU outside its CTU");
        }
        if ((cu.presentMask & VEXILO_OBSERVER_CU_SPLIT) == 0) {
            failures.push_back(where + "CU without its split flag");
        } else if (cu.split == 0) {
            leafArea += areaOf(cu.bounds);
        }
    }
    if (leafArea != areaOf(batch.ctu.bounds)) {
        failures.push_back(where + "leaf CUs cover " + std::to_string(leafArea) + " of " +
                           std::to_string(areaOf(batch.ctu.bounds)) + " samples");
    }
    for (const auto& [identity, cu] : cus) {
        if (cu.parentCuIdentity != 0) {
            const auto parent = cus.find(cu.parentCuIdentity);
            if (parent == cus.end() || parent->second.split == 0 || !contains(parent->second.bounds, cu.bounds)) {
                failures.push_back(where + "CU without a split parent that contains it");
            }
        } else if (cu.depth != 0) {
            failures.push_back(where + "CU below the root without a parent");
        }
    }
    std::map<std::uint64_t, std::uint64_t> puArea;
    std::map<std::uint64_t, std::uint64_t> tuLeafArea;
    for (const auto& pu : batch.pus) {
        const auto cu = cus.find(pu.cuIdentity);
        if (cu == cus.end() || cu->second.split != 0 || !contains(cu->second.bounds, pu.bounds)) {
            failures.push_back(where + "PU without a leaf CU that contains it");
            continue;
        }
        puArea[pu.cuIdentity] += areaOf(pu.bounds);
    }
    std::map<std::uint64_t, std::set<std::uint64_t>> tusOfCu;
    for (const auto& tu : batch.tus) {
        tusOfCu[tu.cuIdentity].insert(tu.tuIdentity);
    }
    for (const auto& tu : batch.tus) {
        const auto cu = cus.find(tu.cuIdentity);
        if (cu == cus.end() || cu->second.split != 0 || !contains(cu->second.bounds, tu.bounds)) {
            failures.push_back(where + "TU without a leaf CU that contains it");
            continue;
        }
        if (tu.parentTuIdentity != 0 && tusOfCu[tu.cuIdentity].count(tu.parentTuIdentity) == 0) {
            failures.push_back(where + "TU whose parent TU is not in its CU");
        }
        if (tu.split == 0) {
            tuLeafArea[tu.cuIdentity] += areaOf(tu.bounds);
        }
    }
    for (const auto& [identity, cu] : cus) {
        if (cu.split != 0) {
            continue;
        }
        if (puArea[identity] != areaOf(cu.bounds)) {
            failures.push_back(where + "PUs do not tile their CU");
        }
        if (tusOfCu.count(identity) != 0 && tuLeafArea[identity] != areaOf(cu.bounds)) {
            failures.push_back(where + "transform leaves do not tile their CU");
        }
    }
}

struct StreamCase {
    std::string name;
    bool hmStream = true;
};

void PrintTo(const StreamCase& stream, std::ostream* out) { *out << stream.name; }

std::filesystem::path pathOf(const StreamCase& stream)
{
    return (stream.hmStream ? referenceStreamsDir() : testMediaDir()) / stream.name;
}

std::vector<StreamCase> blockStreams()
{
    std::vector<StreamCase> streams;
    for (const ReferenceStream& row : readReferenceStreamManifest()) {
        streams.push_back({row.file, true});
    }
    for (const char* clip : {"main_420_8bit_gop8.hevc", "rext_422_10bit.hevc", "rext_444_8bit.hevc",
                             "mono_400_8bit.hevc", "wavefront_slices.hevc", "lossless.hevc", "amp_weighted_sei.hevc",
                             "odd_size_intra.hevc"}) {
        streams.push_back({clip, false});
    }
    return streams;
}

class BlockEventsTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(BlockEventsTest, BlocksArrivePerCtuAndTileTheirParents)
{
    EventRecorder recorder;
    const DecodeRun run = decodeWithObserver(pathOf(GetParam()), recorder, VEXILO_OBSERVER_EVENT_MASK_ALL);
    ASSERT_TRUE(run.opened) << run.error;
    BlockView view = batchesOf(recorder);
    ASSERT_FALSE(view.batches.empty());

    std::map<std::uint64_t, std::uint64_t> ctuAreaPerPicture;
    std::map<std::uint64_t, std::uint64_t> codedAreaPerPicture;
    for (const CtuBatch& batch : view.batches) {
        checkBatch(batch, view.failures);
        ctuAreaPerPicture[batch.ctu.pictureIdentity] += areaOf(batch.ctu.bounds);
        codedAreaPerPicture[batch.ctu.pictureIdentity] =
            std::uint64_t{batch.ctu.header.width} * batch.ctu.header.height;
    }
    for (const auto& [picture, area] : ctuAreaPerPicture) {
        EXPECT_EQ(area, codedAreaPerPicture[picture]) << "CTUs of picture " << picture << " do not tile it";
    }
    const auto pictures = recorder.ofKind<VexiloObserverPictureOutputEvent>(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT);
    for (const auto& output : pictures) {
        EXPECT_EQ(ctuAreaPerPicture.count(output.pictureIdentity), 1U)
            << "output picture " << output.pictureIdentity << " has no CTUs";
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(view.failures.size(), 10); ++i) {
        ADD_FAILURE() << view.failures[i];
    }
    EXPECT_TRUE(view.failures.empty()) << view.failures.size() << " failures";
}

TEST_P(BlockEventsTest, StreamLevelEventsDoNotDependOnTheMask)
{
    EventRecorder withBlocks;
    EventRecorder withoutBlocks;
    ASSERT_TRUE(decodeWithObserver(pathOf(GetParam()), withBlocks, VEXILO_OBSERVER_EVENT_MASK_ALL).opened);
    ASSERT_TRUE(decodeWithObserver(pathOf(GetParam()), withoutBlocks, VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX).opened);
    std::vector<std::vector<std::uint8_t>> streamLevel;
    for (const auto& bytes : withBlocks.events) {
        if (!isBlockKind(headerOf(bytes).kind)) {
            streamLevel.push_back(comparable(bytes));
        }
    }
    ASSERT_EQ(streamLevel.size(), withoutBlocks.events.size());
    for (std::size_t i = 0; i < streamLevel.size(); ++i) {
        const auto expected = comparable(withoutBlocks.events[i]);
        ASSERT_EQ(streamLevel[i], expected) << "event " << i << " of kind " << headerOf(expected).kind << " differs";
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, BlockEventsTest, ::testing::ValuesIn(blockStreams()),
                         [](const ::testing::TestParamInfo<StreamCase>& param) {
                             std::string name = param.param.name.substr(0, param.param.name.find('.'));
                             std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

// Each block kind alone in the mask arrives exactly as it does among the others.
struct SingleKindCase {
    std::uint32_t kind;
    const char* name;
};

class BlockEventKindTest : public ::testing::TestWithParam<SingleKindCase> {};

TEST_P(BlockEventKindTest, OneKindAloneArrivesAsAmongAllKinds)
{
    const std::filesystem::path stream = referenceStreamsDir() / "s07_ldb_slices_ctu_dependent_segments_aud.bit";
    EventRecorder all;
    EventRecorder single;
    ASSERT_TRUE(decodeWithObserver(stream, all, VEXILO_OBSERVER_EVENT_MASK_ALL).opened);
    ASSERT_TRUE(decodeWithObserver(stream, single, VEXILO_OBSERVER_EVENT_MASK_BIT(GetParam().kind)).opened);
    std::vector<std::vector<std::uint8_t>> expected;
    for (const auto& bytes : all.events) {
        if (headerOf(bytes).kind == GetParam().kind) {
            expected.push_back(bytes);
        }
    }
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(single.events, expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BlockEventKindTest,
                         ::testing::Values(SingleKindCase{VEXILO_OBSERVER_EVENT_CTU, "Ctu"},
                                           SingleKindCase{VEXILO_OBSERVER_EVENT_CU, "Cu"},
                                           SingleKindCase{VEXILO_OBSERVER_EVENT_PU, "Pu"},
                                           SingleKindCase{VEXILO_OBSERVER_EVENT_TU, "Tu"}),
                         [](const ::testing::TestParamInfo<SingleKindCase>& param) { return param.param.name; });

// Field values of known streams: what each stream's coding tools make the events say.
struct FieldCase {
    const char* stream;
    const char* name;
    // Holds for at least one event of the stream.
    std::function<bool(const EventRecorder&)> seen;
};

template <typename Event>
bool any(const EventRecorder& recorder, std::uint32_t kind, const std::function<bool(const Event&)>& test)
{
    const auto events = recorder.ofKind<Event>(kind);
    return std::any_of(events.begin(), events.end(), test);
}

template <typename Event>
bool all(const EventRecorder& recorder, std::uint32_t kind, const std::function<bool(const Event&)>& test)
{
    const auto events = recorder.ofKind<Event>(kind);
    return !events.empty() && std::all_of(events.begin(), events.end(), test);
}

bool isLeafCu(const VexiloObserverCuEvent& cu) { return cu.split == 0; }

const std::vector<FieldCase>& fieldCases()
{
    static const std::vector<FieldCase> cases = {
        {"s12_ai_pcm_loop_filter_disabled.bit", "PcmCuHasNoIntraModes",
         [](const EventRecorder& r) {
             return any<VexiloObserverCuEvent>(r, VEXILO_OBSERVER_EVENT_CU, [](const auto& cu) {
                 return isLeafCu(cu) && cu.pcm == 1 && (cu.signaledMask & VEXILO_OBSERVER_CU_SIGNALED_PCM) != 0;
             });
         }},
        {"s13_ldb_lossless_all_cus.bit", "EveryLeafCuBypassesTransquant",
         [](const EventRecorder& r) {
             return all<VexiloObserverCuEvent>(r, VEXILO_OBSERVER_EVENT_CU, [](const auto& cu) {
                 return !isLeafCu(cu) || (cu.transquantBypass == 1 && (cu.presentMask & VEXILO_OBSERVER_CU_TRANSQUANT_BYPASS) != 0);
             });
         }},
        {"s13_ldb_lossless_all_cus.bit", "SplitCusExposeNoLeafState",
         [](const EventRecorder& r) {
             return all<VexiloObserverCuEvent>(r, VEXILO_OBSERVER_EVENT_CU, [](const auto& cu) {
                 constexpr std::uint64_t kLeafOnly = VEXILO_OBSERVER_CU_PREDICTION_MODE | VEXILO_OBSERVER_CU_QP |
                                                     VEXILO_OBSERVER_CU_PARTITION_MODE | VEXILO_OBSERVER_CU_PCM |
                                                     VEXILO_OBSERVER_CU_TRANSQUANT_BYPASS;
                 return isLeafCu(cu) || (cu.presentMask & kLeafOnly) == 0;
             });
         }},
        {"s15_ldp_transform_skip_no_sbh.bit", "TransformSkipSignaledOnLeaves",
         [](const EventRecorder& r) {
             return any<VexiloObserverTuEvent>(r, VEXILO_OBSERVER_EVENT_TU, [](const auto& tu) {
                 return tu.split == 0 && tu.transformSkip.luma == 1 &&
                        (tu.signaledMask & VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_LUMA) != 0;
             });
         }},
        {"s24_ra_cu_qp_delta_adaptive_qp.bit", "SignaledQpDeltaMovesTheQp",
         [](const EventRecorder& r) {
             return any<VexiloObserverCuEvent>(r, VEXILO_OBSERVER_EVENT_CU, [](const auto& cu) {
                 return (cu.signaledMask & VEXILO_OBSERVER_CU_SIGNALED_QP_DELTA) != 0 && cu.qpDelta != 0;
             });
         }},
        {"s20_ldb_amp_tmvp_off.bit", "AmpPartitionsGiveTwoUnequalPus",
         [](const EventRecorder& r) {
             return any<VexiloObserverPuEvent>(r, VEXILO_OBSERVER_EVENT_PU, [](const auto& pu) {
                 return pu.partitionMode >= VEXILO_OBSERVER_PART_MODE_2NxnU && pu.partIndex == 1 &&
                        (pu.bounds.width != pu.bounds.height);
             });
         }},
        {"s20_ldb_amp_tmvp_off.bit", "MergedPusCarryAnIndexOthersAnMvd",
         [](const EventRecorder& r) {
             return all<VexiloObserverPuEvent>(r, VEXILO_OBSERVER_EVENT_PU, [](const auto& pu) {
                 const bool hasMergeIndex = (pu.presentMaskB & VEXILO_OBSERVER_PU_B_MERGE_INDEX) != 0;
                 const bool hasMvd = (pu.presentMaskB & (VEXILO_OBSERVER_PU_B_MVD_L0 | VEXILO_OBSERVER_PU_B_MVD_L1)) != 0;
                 return pu.predictionMode == VEXILO_OBSERVER_PRED_MODE_INTRA ||
                        (pu.mergeFlag == 1 ? hasMergeIndex && !hasMvd : !hasMergeIndex && hasMvd);
             });
         }},
        {"s18_ldp_weighted_pred_p.bit", "PSlicesPredictFromL0Only",
         [](const EventRecorder& r) {
             return all<VexiloObserverPuEvent>(r, VEXILO_OBSERVER_EVENT_PU, [](const auto& pu) {
                 return pu.predictionMode == VEXILO_OBSERVER_PRED_MODE_INTRA ||
                        (pu.interDirection == VEXILO_OBSERVER_INTER_DIRECTION_L0 && pu.refIdxL1 == -1 &&
                         (pu.presentMaskB & VEXILO_OBSERVER_PU_B_REF_IDX_L1) == 0);
             });
         }},
        {"s19_ra_weighted_pred_b.bit", "InterPusCarryTheVectorsOfTheirDirection",
         [](const EventRecorder& r) {
             return all<VexiloObserverPuEvent>(r, VEXILO_OBSERVER_EVENT_PU, [](const auto& pu) {
                 const bool l0 = pu.interDirection != VEXILO_OBSERVER_INTER_DIRECTION_L1;
                 const bool l1 = pu.interDirection != VEXILO_OBSERVER_INTER_DIRECTION_L0;
                 const auto present = [&pu](std::uint64_t bits) { return (pu.presentMaskB & bits) == bits; };
                 return pu.predictionMode == VEXILO_OBSERVER_PRED_MODE_INTRA ||
                        (present(VEXILO_OBSERVER_PU_B_INTER_DIRECTION) &&
                         l0 == present(VEXILO_OBSERVER_PU_B_MV_L0 | VEXILO_OBSERVER_PU_B_REF_POC_L0) &&
                         l1 == present(VEXILO_OBSERVER_PU_B_MV_L1 | VEXILO_OBSERVER_PU_B_REF_POC_L1));
             });
         }},
        {"s16_ai_scaling_list_default_sbh.bit", "IntraPusCarryModesInRange",
         [](const EventRecorder& r) {
             return all<VexiloObserverPuEvent>(r, VEXILO_OBSERVER_EVENT_PU, [](const auto& pu) {
                 return pu.predictionMode == VEXILO_OBSERVER_PRED_MODE_INTRA && pu.intraLumaMode >= 0 &&
                        pu.intraLumaMode <= 34 && pu.intraChromaMode >= 0 && pu.intraChromaMode <= 34;
             });
         }},
        {"s23_ra_chroma_qp_offsets_pps_slice.bit", "ChromaQpFollowsThePpsOffsets",
         [](const EventRecorder& r) {
             return any<VexiloObserverCuEvent>(r, VEXILO_OBSERVER_EVENT_CU, [](const auto& cu) {
                 return isLeafCu(cu) && cu.chromaQpCb != cu.chromaQpCr;
             });
         }},
    };
    return cases;
}

class BlockEventFieldTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BlockEventFieldTest, StreamShowsItsCodingTool)
{
    const FieldCase& field = fieldCases()[GetParam()];
    EventRecorder recorder;
    ASSERT_TRUE(decodeWithObserver(referenceStreamsDir() / field.stream, recorder, VEXILO_OBSERVER_EVENT_MASK_ALL).opened);
    EXPECT_TRUE(field.seen(recorder)) << field.stream;
}

INSTANTIATE_TEST_SUITE_P(Fields, BlockEventFieldTest, ::testing::Range<std::size_t>(0, fieldCases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return std::string(fieldCases()[param.param].name);
                         });

// A slice whose data breaks off still closes the CTU it broke in, with the error.
TEST(BlockEventsDamagedTest, BrokenCtuEndsItsBatchWithAnError)
{
    std::vector<std::uint8_t> bytes = readFile(referenceStreamsDir() / "s16_ai_scaling_list_default_sbh.bit");
    // Overwrite the middle of the stream (inside the first picture's slice data).
    const std::size_t middle = bytes.size() / 6;
    for (std::size_t i = middle; i < middle + 64; ++i) {
        bytes[i] = static_cast<std::uint8_t>(0x5A ^ i);
    }
    const std::filesystem::path damaged = std::filesystem::temp_directory_path() / "vexilo_block_events_damaged.bit";
    std::ofstream(damaged, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EventRecorder recorder;
    ASSERT_TRUE(decodeWithObserver(damaged, recorder, VEXILO_OBSERVER_EVENT_MASK_ALL).opened);
    std::filesystem::remove(damaged);
    const BlockView view = batchesOf(recorder);
    EXPECT_TRUE(view.failures.empty()) << view.failures.front();
    const auto broken = std::count_if(view.batches.begin(), view.batches.end(), [](const CtuBatch& batch) {
        return batch.ctu.parseStatus == VEXILO_OBSERVER_PARSE_STATUS_MALFORMED && batch.ctu.parserErrorCode < 0;
    });
    EXPECT_GE(broken, 1);
    for (const CtuBatch& batch : view.batches) {
        if (batch.ctu.parseStatus != VEXILO_OBSERVER_PARSE_STATUS_PARSED) {
            EXPECT_EQ(batch.ctu.parseStatus, VEXILO_OBSERVER_PARSE_STATUS_MALFORMED);
            EXPECT_LT(batch.ctu.parserErrorCode, 0);
        }
    }
}

} // namespace
} // namespace vexilo::hevc::test
