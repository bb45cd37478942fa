// Damaged copies of the reference streams: truncated, with flipped bytes, with NAL units
// left out, cut into arbitrary packets. Each must end in events with a parse status, never
// in a crash or an out-of-range value. Copies with one element set out of its range must
// end in a diagnostic that names the element and its bit in the NAL unit.
#include "nal_unit.h"
#include "observer_session.h"
#include "stream_patch.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <span>
#include <string_view>

#include <unistd.h>

namespace vexilo::hevc::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Damage {
    std::string name;
    std::function<Bytes(const Bytes&, std::mt19937&)> apply;
};

Bytes truncate(const Bytes& stream, std::mt19937& random)
{
    std::uniform_int_distribution<std::size_t> cut(1, stream.size() - 1);
    return Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut(random)));
}

Bytes flipBytes(const Bytes& stream, std::mt19937& random)
{
    Bytes damaged = stream;
    std::uniform_int_distribution<std::size_t> position(0, stream.size() - 1);
    std::uniform_int_distribution<int> bit(0, 7);
    for (int i = 0; i < 8; ++i) {
        damaged[position(random)] ^= static_cast<std::uint8_t>(1U << bit(random));
    }
    return damaged;
}

// Flips bits only in the first bytes of NAL units, where the headers are.
Bytes flipHeaderBytes(const Bytes& stream, std::mt19937& random)
{
    Bytes damaged = stream;
    const auto nalUnits = splitAnnexB(stream);
    std::uniform_int_distribution<std::size_t> pick(0, nalUnits.size() - 1);
    std::uniform_int_distribution<int> bit(0, 7);
    for (int i = 0; i < 6; ++i) {
        const NalUnitSpan& nal = nalUnits[pick(random)];
        std::uniform_int_distribution<std::uint64_t> within(0, std::min<std::uint64_t>(nal.size, 12) - 1);
        damaged[static_cast<std::size_t>(nal.offset + within(random))] ^= static_cast<std::uint8_t>(1U << bit(random));
    }
    return damaged;
}

Bytes dropNalUnits(const Bytes& stream, std::mt19937& random)
{
    Bytes damaged;
    std::bernoulli_distribution drop(0.15);
    for (const NalUnitSpan& nal : splitAnnexB(stream)) {
        if (drop(random)) {
            continue;
        }
        damaged.insert(damaged.end(), {0, 0, 0, 1});
        const auto begin = stream.begin() + static_cast<std::ptrdiff_t>(nal.offset);
        damaged.insert(damaged.end(), begin, begin + static_cast<std::ptrdiff_t>(nal.size));
    }
    return damaged;
}

// Feeds `stream` cut into packets of random sizes, as a broken demuxer might.
void feedInPieces(ObserverSession& session, const Bytes& stream, std::mt19937& random)
{
    std::uniform_int_distribution<std::size_t> piece(1, 4096);
    std::size_t position = 0;
    while (position < stream.size()) {
        const std::size_t size = std::min(piece(random), stream.size() - position);
        PacketStamp stamp;
        stamp.filePosition = position;
        const auto token = session.feedPacket(std::span(stream).subspan(position, size), stamp);
        session.feedFrame(token, static_cast<std::int64_t>(position), 0, 0, 0);
        position += size;
    }
    session.feedFlush();
}

void expectSaneEvents(const EventRecorder& recorder)
{
    for (const auto& slice : recorder.ofKind<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER)) {
        ASSERT_TRUE(slice.parseStatus == 1 || slice.parseStatus == 2);
        if (slice.parseStatus == 2) {
            EXPECT_LT(slice.parserErrorCode, 0);
        }
        EXPECT_LE(slice.numRefIdxL0Active, 15U);
        EXPECT_LE(slice.numRefIdxL1Active, 15U);
        EXPECT_LE(slice.ppsId, 63U);
    }
    for (const auto& nal : recorder.ofKind<VexiloObserverNalUnitEvent>(VEXILO_OBSERVER_EVENT_NAL_UNIT)) {
        EXPECT_LE(nal.temporalId, 6U);
        EXPECT_LE(nal.nalUnitType, 63U);
    }
    for (const auto& entry : recorder.ofKind<VexiloObserverDpbEntryEvent>(VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY)) {
        EXPECT_LT(entry.slot, 32U);
        EXPECT_NE(entry.pictureIdentity, 0U);
    }
    for (const auto& entry : recorder.ofKind<VexiloObserverReferenceListEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY)) {
        EXPECT_LT(entry.listIndex, 16U);
    }
    for (const auto& entry : recorder.ofKind<VexiloObserverShortTermRpsEvent>(VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY)) {
        EXPECT_LT(entry.entryIndex, 32U);
    }
}

class DamagedStreamTest : public ::testing::TestWithParam<ReferenceStream> {};

TEST_P(DamagedStreamTest, EveryDamageEndsInParseStatusesNotCrashes)
{
    const Bytes stream = readFile(referenceStreamsDir() / GetParam().file);
    ASSERT_FALSE(stream.empty());
    const std::vector<Damage> damages = {
        {"truncate", truncate},
        {"flip", flipBytes},
        {"flip headers", flipHeaderBytes},
        {"drop NAL units", dropNalUnits},
    };
    std::mt19937 random(static_cast<std::mt19937::result_type>(std::hash<std::string>{}(GetParam().file)));
    for (const Damage& damage : damages) {
        for (int copy = 0; copy < 4; ++copy) {
            SCOPED_TRACE(damage.name + " #" + std::to_string(copy));
            const Bytes damaged = damage.apply(stream, random);
            EventRecorder recorder;
            ObserverSession session(EventSink(&EventRecorder::callback, &recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
            feedInPieces(session, damaged, random);
            expectSaneEvents(recorder);
        }
    }
}

std::string streamName(const ::testing::TestParamInfo<ReferenceStream>& info)
{
    return info.param.file.substr(0, info.param.file.find('.'));
}

INSTANTIATE_TEST_SUITE_P(Manifest, DamagedStreamTest, ::testing::ValuesIn(readReferenceStreamManifest()), streamName);

TEST(DamagedFileThroughFfmpegTest, FramesOfDamagedFilesStillMapToPictures)
{
    const std::vector<const char*> files = {"s01_ra_gop8_cra_rasl_vui.bit", "s07_ldb_slices_ctu_dependent_segments_aud.bit",
                                            "s09_ldp_long_term_ref.bit", "s10_ra_ref_list_modification.bit"};
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("vexilo-observer-damaged-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    std::mt19937 random(7);
    for (const char* file : files) {
        const Bytes stream = readFile(referenceStreamsDir() / file);
        for (const auto damage : {truncate, flipBytes, dropNalUnits}) {
            const std::filesystem::path copy = directory / "damaged.hevc";
            const Bytes damaged = damage(stream, random);
            std::ofstream(copy, std::ios::binary)
                .write(reinterpret_cast<const char*>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
            EventRecorder recorder;
            const DecodeRun run = decodeWithObserver(copy, recorder, VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX);
            if (!run.opened) {
                continue; // FFmpeg refused the damaged file before decoding; nothing to map
            }
            const auto outputs = recorder.ofKind<VexiloObserverPictureOutputEvent>(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT);
            EXPECT_LE(static_cast<std::int64_t>(outputs.size()), run.framesReturned) << file;
            for (const auto& output : outputs) {
                EXPECT_NE(output.pictureIdentity, 0U);
                EXPECT_GE(output.header.displayIndex, 0);
            }
            expectSaneEvents(recorder);
        }
    }
    std::filesystem::remove_all(directory);
}

TEST(LostPictureTest, MissingReferencesAreGeneratedAndReportedAsMalformed)
{
    // Without its IDR picture, every P picture of the low-delay stream refers to pictures that
    // never arrived.
    const Bytes stream = readFile(referenceStreamsDir() / "s18_ldp_weighted_pred_p.bit");
    Bytes withoutIdr;
    for (const NalUnitSpan& nal : splitAnnexB(stream)) {
        const auto header = parseNalUnitHeader(std::span(stream).subspan(static_cast<std::size_t>(nal.offset), 2));
        if (header && header->nal_unit_type == IDR_W_RADL) {
            continue;
        }
        withoutIdr.insert(withoutIdr.end(), {0, 0, 1});
        const auto begin = stream.begin() + static_cast<std::ptrdiff_t>(nal.offset);
        withoutIdr.insert(withoutIdr.end(), begin, begin + static_cast<std::ptrdiff_t>(nal.size));
    }
    EventRecorder recorder;
    ObserverSession session(EventSink(&EventRecorder::callback, &recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
    session.feedPacket(withoutIdr, PacketStamp{});
    session.feedFlush();
    const auto states = recorder.ofKind<VexiloObserverReferenceStateEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front().status, 2U);
    EXPECT_LT(states.front().errorCode, 0);
    bool unavailableReference = false;
    for (const auto& entry : recorder.ofKind<VexiloObserverReferenceListEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY)) {
        unavailableReference = unavailableReference || (entry.status == 2 && entry.targetPictureId == 0);
    }
    EXPECT_TRUE(unavailableReference);
}

// The slice data of POC 1 of a low-delay stream cut short: the picture stays in the DPB but its
// blocks broke off, so what predicts from it says so.
TEST(DamagedReferenceTest, ReferencesToAPictureWhoseSliceDataBrokeOffAreCorrupt)
{
    const Bytes stream = readFile(referenceStreamsDir() / "s26_ldp_ctu32_mincu16_confwin_checksum.bit");
    Bytes damaged;
    int picture = -1;
    for (const NalUnitSpan& nal : splitAnnexB(stream)) {
        const auto bytes = std::span(stream).subspan(static_cast<std::size_t>(nal.offset), static_cast<std::size_t>(nal.size));
        const auto header = parseNalUnitHeader(bytes);
        const bool vcl = header && isVcl(header->nal_unit_type);
        if (vcl && (bytes[2] & 0x80U) != 0) {
            ++picture; // first_slice_segment_in_pic_flag
        }
        const std::size_t kept = vcl && picture == 1 ? bytes.size() / 2 : bytes.size();
        damaged.insert(damaged.end(), {0, 0, 1});
        damaged.insert(damaged.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
    }
    EventRecorder recorder;
    ObserverSession session(EventSink(&EventRecorder::callback, &recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
    session.feedPacket(damaged, PacketStamp{});
    session.feedFlush();

    constexpr std::int32_t kDamagedPoc = 1;
    std::map<std::uint32_t, int> statusesOfDamaged;
    std::map<std::uint32_t, int> statusesOfOthers;
    for (const auto& pu : recorder.ofKind<VexiloObserverPuEvent>(VEXILO_OBSERVER_EVENT_PU)) {
        if ((pu.presentMaskB & VEXILO_OBSERVER_PU_B_REF_POC_L0) != 0) {
            ++(pu.refPocL0 == kDamagedPoc ? statusesOfDamaged : statusesOfOthers)[pu.refStatusL0];
        }
    }
    EXPECT_GT(statusesOfDamaged[VEXILO_OBSERVER_REFERENCE_CORRUPT], 0);
    EXPECT_EQ(statusesOfDamaged.size(), 1U);
    EXPECT_GT(statusesOfOthers[VEXILO_OBSERVER_REFERENCE_AVAILABLE], 0);
    EXPECT_EQ(statusesOfOthers.size(), 1U);
    for (const auto& entry : recorder.ofKind<VexiloObserverReferenceListEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY)) {
        EXPECT_EQ(entry.status, entry.poc == kDamagedPoc ? VEXILO_OBSERVER_REFERENCE_CORRUPT
                                                         : VEXILO_OBSERVER_REFERENCE_AVAILABLE)
            << "POC " << entry.poc;
    }
}

TEST(MissingParameterSetTest, SlicesWithoutTheirPpsAreMalformedAndStartNoPicture)
{
    const Bytes stream = readFile(referenceStreamsDir() / "s04_ldp_tiles_uniform_lf_across.bit");
    Bytes withoutPps;
    for (const NalUnitSpan& nal : splitAnnexB(stream)) {
        const auto header = parseNalUnitHeader(std::span(stream).subspan(static_cast<std::size_t>(nal.offset), 2));
        if (header && header->nal_unit_type == PPS_NUT) {
            continue;
        }
        withoutPps.insert(withoutPps.end(), {0, 0, 1});
        const auto begin = stream.begin() + static_cast<std::ptrdiff_t>(nal.offset);
        withoutPps.insert(withoutPps.end(), begin, begin + static_cast<std::ptrdiff_t>(nal.size));
    }
    EventRecorder recorder;
    ObserverSession session(EventSink(&EventRecorder::callback, &recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
    session.feedPacket(withoutPps, PacketStamp{});
    session.feedFlush();
    const auto slices = recorder.ofKind<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER);
    ASSERT_FALSE(slices.empty());
    for (const auto& slice : slices) {
        EXPECT_EQ(slice.parseStatus, 2U);
        EXPECT_EQ(slice.pictureIdentity, 0U);
        EXPECT_NE(slice.presentMaskA & VEXILO_OBSERVER_SLICE_A_PPS_ID, 0U);
        EXPECT_EQ(slice.presentMaskA & VEXILO_OBSERVER_SLICE_A_SIGNALED_SLICE_TYPE, 0U);
    }
    EXPECT_TRUE(session.pictures().empty());
}

// The stream with `damage` done to the bytes of its `index`-th slice NAL unit (from its header).
Bytes withSliceDamaged(const Bytes& stream, std::size_t index, const std::function<void(std::span<std::uint8_t>)>& damage)
{
    Bytes damaged = stream;
    std::size_t slices = 0;
    for (const NalUnitSpan& nal : splitAnnexB(stream)) {
        const auto bytes = std::span(damaged).subspan(static_cast<std::size_t>(nal.offset), static_cast<std::size_t>(nal.size));
        const auto header = parseNalUnitHeader(bytes);
        if (header && isVcl(header->nal_unit_type) && slices++ == index) {
            damage(bytes);
        }
    }
    return damaged;
}

struct ObservedStream {
    EventRecorder recorder;
    std::vector<PictureRecord> pictures;
};

void observe(const Bytes& stream, ObservedStream& observed)
{
    ObserverSession session(EventSink(&EventRecorder::callback, &observed.recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
    session.feedPacket(stream, PacketStamp{});
    session.feedFlush();
    observed.pictures = session.pictures();
}

std::vector<VexiloObserverSliceEvent> slicesOf(const EventRecorder& recorder)
{
    return recorder.ofKind<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER);
}

// FFmpeg decodes the picture whose header this is (the worker's tests check that it puts it
// out): the picture keeps its place in decode order, without a POC, its refused slice names it,
// and every other picture keeps the identity and POC of the intact stream.
TEST(RefusedSliceTest, APictureWhoseFirstSliceHeaderIsRefusedKeepsItsPlaceInDecodeOrder)
{
    const Bytes stream = readFile(referenceStreamsDir() / "s20_ldb_amp_tmvp_off.bit");
    constexpr std::size_t kDamagedPicture = 1;
    // Misaligns the end of the header: byte_alignment() then finds a zero.
    const Bytes damaged = withSliceDamaged(stream, kDamagedPicture, [](std::span<std::uint8_t> nal) { nal[4] ^= 0x10U; });
    ObservedStream intact;
    observe(stream, intact);
    ObservedStream observed;
    observe(damaged, observed);

    ASSERT_EQ(observed.pictures.size(), intact.pictures.size());
    for (std::size_t i = 0; i < intact.pictures.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(observed.pictures[i].pictureIdentity, intact.pictures[i].pictureIdentity);
        if (i != kDamagedPicture) {
            EXPECT_EQ(observed.pictures[i].poc, intact.pictures[i].poc);
        }
    }
    const auto slices = slicesOf(observed.recorder);
    ASSERT_GT(slices.size(), kDamagedPicture);
    EXPECT_EQ(slices[kDamagedPicture].parseStatus, 2U);
    EXPECT_EQ(slices[kDamagedPicture].pictureIdentity, intact.pictures[kDamagedPicture].pictureIdentity);
    EXPECT_EQ(slices[kDamagedPicture].presentMaskB & VEXILO_OBSERVER_SLICE_B_POC, 0U);
    const auto diagnostics =
        observed.recorder.ofKind<VexiloObserverSyntaxDiagnosticEvent>(VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC);
    ASSERT_EQ(diagnostics.size(), 1U);
    EXPECT_EQ(diagnostics[0].nalIdentity, slices[kDamagedPicture].nalIdentity);
    EXPECT_TRUE(std::string_view(diagnostics[0].message).starts_with("Slice segment header refused: "))
        << diagnostics[0].message;
}

// Bytes flipped inside the slice data of one picture: its CTUs still parse, but the segment
// does not end where its NAL unit does, which no CTU's status can say.
TEST(RefusedSliceTest, SliceDataThatDoesNotEndWithItsNalUnitIsReported)
{
    const Bytes stream = readFile(referenceStreamsDir() / "s20_ldb_amp_tmvp_off.bit");
    constexpr std::size_t kDamagedPicture = 2;
    const Bytes damaged = withSliceDamaged(stream, kDamagedPicture, [](std::span<std::uint8_t> nal) {
        for (std::size_t i = nal.size() / 3; i < nal.size() / 3 + 4; ++i) {
            nal[i] ^= 0x5AU;
        }
    });
    ObservedStream intact;
    observe(stream, intact);
    EXPECT_TRUE(intact.recorder.ofKind<VexiloObserverSyntaxDiagnosticEvent>(VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC)
                    .empty());
    ObservedStream observed;
    observe(damaged, observed);
    const auto diagnostics =
        observed.recorder.ofKind<VexiloObserverSyntaxDiagnosticEvent>(VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC);
    ASSERT_EQ(diagnostics.size(), 1U);
    EXPECT_EQ(diagnostics[0].outcome, VEXILO_OBSERVER_DIAGNOSTIC_REJECTED);
    EXPECT_EQ(diagnostics[0].nalIdentity, slicesOf(observed.recorder).at(kDamagedPicture).nalIdentity);
    EXPECT_STREQ(diagnostics[0].element, "slice_segment_data");
    EXPECT_TRUE(std::string_view(diagnostics[0].message).starts_with("Slice segment data refused: "))
        << diagnostics[0].message;
}

std::vector<VexiloObserverSyntaxDiagnosticEvent> observeDiagnostics(const Bytes& stream, EventRecorder& recorder)
{
    ObserverSession session(EventSink(&EventRecorder::callback, &recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
    session.feedPacket(stream, PacketStamp{});
    session.feedFlush();
    return recorder.ofKind<VexiloObserverSyntaxDiagnosticEvent>(VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC);
}

// The identity the observer gave the first NAL unit of `nalUnitType`.
std::uint64_t firstNalIdentityOfType(const EventRecorder& recorder, std::uint32_t nalUnitType)
{
    for (const auto& nal : recorder.ofKind<VexiloObserverNalUnitEvent>(VEXILO_OBSERVER_EVENT_NAL_UNIT)) {
        if (nal.nalUnitType == nalUnitType) {
            return nal.nalIdentity;
        }
    }
    return 0;
}

// sps_video_parameter_set_id, sps_max_sub_layers_minus1 (0), sps_temporal_id_nesting_flag
// and profile_tier_level() of one sub-layer.
constexpr std::uint64_t kSpsIdBitWithOneSubLayer = 4 + 3 + 1 + 96;
// first_slice_segment_in_pic_flag and no_output_of_prior_pics_flag of an IRAP picture.
constexpr std::uint64_t kSlicePpsIdBitOfIrap = 2;

TEST(RefusedStructureTest, DiagnosticNamesTheElementAndItsBitInTheNalUnit)
{
    struct Case {
        const char* name;
        const char* file;
        std::uint32_t nalUnitType;
        std::uint64_t rbspBit; // where the element starts in the first NAL unit of the type
        std::uint32_t value;
        const char* element;
    };
    const Case cases[] = {
        {"PPS id above 63", "s04_ldp_tiles_uniform_lf_across.bit", PPS_NUT, 0, 64, "pps_pic_parameter_set_id"},
        {"SPS id above 15", "s04_ldp_tiles_uniform_lf_across.bit", SPS_NUT, kSpsIdBitWithOneSubLayer, 16,
         "sps_seq_parameter_set_id"},
        {"slice PPS id above 63", "s09_ldp_long_term_ref.bit", IDR_W_RADL, kSlicePpsIdBitOfIrap, 64,
         "slice_pic_parameter_set_id"},
        {"slice names a PPS never sent", "s09_ldp_long_term_ref.bit", IDR_W_RADL, kSlicePpsIdBitOfIrap, 9,
         "slice_pic_parameter_set_id"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes stream = readFile(referenceStreamsDir() / c.file);
        const auto nal = firstNalUnitOfType(stream, c.nalUnitType);
        ASSERT_TRUE(nal.has_value());
        if (c.nalUnitType == SPS_NUT) {
            ASSERT_EQ((rbspOf(stream, *nal)[0] >> 1U) & 7U, 0U) << "the SPS must have one sub-layer";
        }
        const Bytes damaged = withRbsp(stream, *nal, withUe(rbspOf(stream, *nal), c.rbspBit, c.value));

        EventRecorder recorder;
        const auto diagnostics = observeDiagnostics(damaged, recorder);
        ASSERT_FALSE(diagnostics.empty());
        const VexiloObserverSyntaxDiagnosticEvent& first = diagnostics.front();
        EXPECT_EQ(first.outcome, VEXILO_OBSERVER_DIAGNOSTIC_REJECTED);
        EXPECT_EQ(first.nalUnitType, c.nalUnitType);
        EXPECT_EQ(first.nalIdentity, firstNalIdentityOfType(recorder, c.nalUnitType));
        EXPECT_STREQ(first.element, c.element);
        EXPECT_NE(first.bitPositionKnown, 0U);
        EXPECT_EQ(first.bitPosition, nalBitOf(damaged, *firstNalUnitOfType(damaged, c.nalUnitType), c.rbspBit));
        EXPECT_NE(std::string(first.message).find(c.element), std::string::npos) << first.message;
    }
}

TEST(RefusedStructureTest, TruncatedParameterSetNamesItsStructure)
{
    const Bytes stream = readFile(referenceStreamsDir() / "s04_ldp_tiles_uniform_lf_across.bit");
    const auto pps = firstNalUnitOfType(stream, PPS_NUT);
    ASSERT_TRUE(pps.has_value());
    const Bytes damaged = withRbsp(stream, *pps, Bytes{0x00, 0x80}); // ends inside the PPS id

    EventRecorder recorder;
    const auto diagnostics = observeDiagnostics(damaged, recorder);
    ASSERT_FALSE(diagnostics.empty());
    EXPECT_EQ(diagnostics.front().nalUnitType, PPS_NUT);
    EXPECT_STREQ(diagnostics.front().element, "pic_parameter_set_rbsp");
    EXPECT_NE(diagnostics.front().bitPositionKnown, 0U);
}

TEST(ToleratedValueTest, ReorderAboveTheDpbKeepsTheSpsWithAWarning)
{
    const Bytes stream = readFile(testMediaDir() / "main_420_8bit_gop8.hevc");
    SpsReorderField field;
    const Bytes patched = withReorderAboveTheDpb(stream, field);

    EventRecorder recorder;
    const auto diagnostics = observeDiagnostics(patched, recorder);
    ASSERT_EQ(diagnostics.size(), 1U) << "one warning, no structure refused";
    EXPECT_EQ(diagnostics[0].outcome, VEXILO_OBSERVER_DIAGNOSTIC_TOLERATED);
    EXPECT_EQ(diagnostics[0].nalUnitType, static_cast<std::uint32_t>(SPS_NUT));
    EXPECT_STREQ(diagnostics[0].element, "sps_max_num_reorder_pics");
    EXPECT_EQ(diagnostics[0].bitPosition, nalBitOf(patched, *firstNalUnitOfType(patched, SPS_NUT), field.bitPosition));

    const auto sps = recorder.ofKind<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_SPS);
    ASSERT_FALSE(sps.empty());
    EXPECT_EQ(sps[0].spsMaxNumReorderPics[0], field.maxDecPicBufferingMinus1 + 1U);
    for (const auto& slice : recorder.ofKind<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER)) {
        EXPECT_EQ(slice.parseStatus, 1U);
    }
}

} // namespace
} // namespace vexilo::hevc::test
