// The merge of a picture's document with the stream's, checked case by case and against a
// plain transcription of the rule (linear walks, first match wins) over varied documents.

#include "vexilo/analysis/cache/PicturePayloadAssembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace vexilo::analysis {
namespace {

NalUnitInfo unit(std::uint64_t id, NalUnitKind kind, std::optional<std::uint64_t> picture = std::nullopt,
                 std::uint64_t byteSize = 10)
{
    NalUnitInfo nal;
    nal.id = StableId{1, id};
    nal.kind = kind;
    nal.pictureId = picture;
    nal.byteSize = byteSize;
    return nal;
}

SeiMessageInfo sei(std::uint64_t id, std::optional<std::uint64_t> picture, std::uint32_t payloadType = 5)
{
    SeiMessageInfo message;
    message.id = StableId{3, id};
    message.pictureId = picture;
    message.payloadType = payloadType;
    return message;
}

AnalysisErrorInfo error(std::uint64_t id)
{
    AnalysisErrorInfo info;
    info.id = StableId{0xf, id};
    info.code = "analyzer.note";
    return info;
}

std::vector<std::uint64_t> lowIds(const auto& records)
{
    std::vector<std::uint64_t> ids;
    for (const auto& record : records) {
        ids.push_back(record.id.low);
    }
    return ids;
}

StreamAnalysis streamDocument()
{
    StreamAnalysis stream;
    stream.nalUnits = {unit(1, NalUnitKind::Vps),      unit(2, NalUnitKind::Sps),
                       unit(3, NalUnitKind::Pps),      unit(4, NalUnitKind::PrefixSei),
                       unit(5, NalUnitKind::Slice, 7), unit(6, NalUnitKind::SuffixSei, 7),
                       unit(7, NalUnitKind::Slice, 8), unit(8, NalUnitKind::SuffixSei, 8),
                       unit(9, NalUnitKind::Aud)};
    stream.parameterSets = {ParameterSetInfo{.id = StableId{2, 1}}, ParameterSetInfo{.id = StableId{2, 2}}};
    stream.seiMessages = {sei(1, std::nullopt), sei(2, 7), sei(3, 8)};
    stream.errors = {error(100)};
    return stream;
}

TEST(PicturePayloadAssemblerTest, PictureWithoutNalUnitsGetsWhatTheStreamSharesWithEveryPicture)
{
    const StreamAnalysis payload = makePictureAnalysisPayload(streamDocument(), StreamAnalysis{});
    EXPECT_EQ(lowIds(payload.nalUnits), (std::vector<std::uint64_t>{1, 2, 3, 4}))
        << "VPS, SPS, PPS and the picture-less SEI unit; not the AUD, not other pictures' units";
    EXPECT_EQ(lowIds(payload.parameterSets), (std::vector<std::uint64_t>{1, 2}));
    EXPECT_EQ(lowIds(payload.seiMessages), (std::vector<std::uint64_t>{1}));
    EXPECT_EQ(lowIds(payload.errors), (std::vector<std::uint64_t>{100}));
}

TEST(PicturePayloadAssemblerTest, SharedUnitsKeepTheStreamOrderAndThePicturesContent)
{
    StreamAnalysis picture;
    picture.pictures = {PictureAnalysisSummary{.id = StableId{9, 8}, .pictureId = 8}};
    picture.nalUnits = {unit(50, NalUnitKind::Slice, 8), unit(8, NalUnitKind::SuffixSei, 8, 77),
                        unit(7, NalUnitKind::Slice, 8, 99), unit(2, NalUnitKind::Sps, std::nullopt, 55)};
    picture.seiMessages = {sei(60, 8), sei(3, 8, 129)};
    picture.parameterSets = {ParameterSetInfo{.id = StableId{2, 42}}};
    picture.errors = {error(1), error(2)};

    const StreamAnalysis payload = makePictureAnalysisPayload(streamDocument(), picture);
    EXPECT_EQ(lowIds(payload.nalUnits), (std::vector<std::uint64_t>{1, 2, 3, 4, 7, 8, 50}))
        << "picture 7's suffix SEI stays out; the picture's own unit unknown to the stream comes last";
    EXPECT_EQ(payload.nalUnits[1].byteSize, 55U) << "the picture's copy of the SPS unit";
    EXPECT_EQ(payload.nalUnits[4].byteSize, 99U);
    EXPECT_EQ(payload.nalUnits[5].byteSize, 77U);
    EXPECT_EQ(lowIds(payload.seiMessages), (std::vector<std::uint64_t>{1, 3, 60}));
    EXPECT_EQ(payload.seiMessages[1].payloadType, 129U);
    EXPECT_EQ(lowIds(payload.parameterSets), (std::vector<std::uint64_t>{1, 2})) << "the stream's list replaces";
    EXPECT_EQ(lowIds(payload.errors), (std::vector<std::uint64_t>{100, 1, 2})) << "stream errors first";
    EXPECT_EQ(payload.pictures, picture.pictures) << "everything else is the picture's";
}

TEST(PicturePayloadAssemblerTest, StreamWithoutErrorsLeavesThePicturesErrors)
{
    StreamAnalysis stream = streamDocument();
    stream.errors.clear();
    StreamAnalysis picture;
    picture.errors = {error(3), error(4)};
    EXPECT_EQ(makePictureAnalysisPayload(stream, picture).errors, picture.errors);
}

TEST(PicturePayloadAssemblerTest, PictureRecordsExtentTakesOnlyTheStreamsErrors)
{
    StreamAnalysis picture;
    picture.pictures = {PictureAnalysisSummary{.id = StableId{9, 8}, .pictureId = 8}};
    picture.nalUnits = {unit(7, NalUnitKind::Slice, 8, 99), unit(8, NalUnitKind::SuffixSei, 8, 77)};
    picture.seiMessages = {sei(3, 8, 129)};
    picture.slices = {SliceInfo{.id = StableId{4, 1}, .pictureId = 8}};
    picture.cus = {CuInfo{.id = StableId{6, 1}}};
    picture.errors = {error(1)};
    const StreamAnalysis stream = streamDocument();
    const PicturePayloadAssembler assembler(stream);
    const StreamAnalysis complete = assembler.assemble(picture, PayloadExtent::Complete);
    const StreamAnalysis own = assembler.assemble(picture, PayloadExtent::PictureRecords);

    EXPECT_EQ(complete, makePictureAnalysisPayload(stream, picture));
    EXPECT_EQ(own.nalUnits, picture.nalUnits) << "no parameter-set or picture-less SEI unit of the stream";
    EXPECT_EQ(own.seiMessages, picture.seiMessages);
    EXPECT_TRUE(own.parameterSets.empty());
    // What the strip, the picture table and the error log read is the complete payload's.
    StreamAnalysis completeWithoutStreamRecords = complete;
    completeWithoutStreamRecords.nalUnits = own.nalUnits;
    completeWithoutStreamRecords.seiMessages = own.seiMessages;
    completeWithoutStreamRecords.parameterSets.clear();
    EXPECT_EQ(own, completeWithoutStreamRecords);
    EXPECT_EQ(lowIds(own.errors), (std::vector<std::uint64_t>{100, 1}));
}

// The rule as written: linear searches from the front, first match wins.
template <typename Record, typename Keep>
std::vector<Record> referenceMerge(const std::vector<Record>& stream, const std::vector<Record>& picture,
                                   Keep keep)
{
    const auto find = [](const std::vector<Record>& records, const StableId& id) {
        return std::find_if(records.begin(), records.end(), [&id](const Record& record) { return record.id == id; });
    };
    std::vector<Record> merged;
    for (const Record& record : stream) {
        const auto own = find(picture, record.id);
        if (own != picture.end() || keep(record)) {
            if (find(merged, record.id) == merged.end()) {
                merged.push_back(own != picture.end() ? *own : record);
            }
        }
    }
    for (const Record& record : picture) {
        if (find(merged, record.id) == merged.end()) {
            merged.push_back(record);
        }
    }
    return merged;
}

TEST(PicturePayloadAssemblerTest, AgreesWithTheLinearRuleOnVariedDocuments)
{
    // Documents as the validator lets them through: identities unique within each document,
    // while a picture may share any of them with the stream.
    std::mt19937_64 random(14);
    const auto pick = [&random](std::uint64_t bound) { return random() % bound; };
    std::vector<std::uint64_t> identities(40);
    for (std::uint64_t n = 0; n < identities.size(); ++n) {
        identities[n] = n + 1;
    }
    for (int round = 0; round < 200; ++round) {
        StreamAnalysis stream;
        StreamAnalysis picture;
        std::shuffle(identities.begin(), identities.end(), random);
        for (std::uint64_t n = 0, count = pick(30); n < count; ++n) {
            const auto kind = static_cast<NalUnitKind>(pick(8));
            const std::optional<std::uint64_t> owner = pick(3) == 0 ? std::nullopt : std::optional(pick(4));
            stream.nalUnits.push_back(unit(identities[n], kind, owner, n));
            stream.seiMessages.push_back(sei(identities[n], owner, static_cast<std::uint32_t>(n)));
        }
        std::shuffle(identities.begin(), identities.end(), random);
        for (std::uint64_t n = 0, count = pick(10); n < count; ++n) {
            picture.nalUnits.push_back(unit(identities[n], static_cast<NalUnitKind>(pick(8)), 1, 1000 + n));
            picture.seiMessages.push_back(sei(identities[n], 1, static_cast<std::uint32_t>(1000 + n)));
        }
        const StreamAnalysis payload = makePictureAnalysisPayload(stream, picture);
        EXPECT_EQ(payload.nalUnits, referenceMerge(stream.nalUnits, picture.nalUnits, [](const NalUnitInfo& nal) {
                      const bool parameterSet = nal.kind == NalUnitKind::Vps || nal.kind == NalUnitKind::Sps ||
                                                nal.kind == NalUnitKind::Pps;
                      const bool sei = nal.kind == NalUnitKind::PrefixSei || nal.kind == NalUnitKind::SuffixSei;
                      return parameterSet || (sei && !nal.pictureId);
                  })) << "round " << round;
        EXPECT_EQ(payload.seiMessages,
                  referenceMerge(stream.seiMessages, picture.seiMessages,
                                 [](const SeiMessageInfo& message) { return !message.pictureId; }))
            << "round " << round;
    }
}

}  // namespace
}  // namespace vexilo::analysis
