#include "PipelineTestSupport.h"
#include "WorkerFramePacketReader.h"
#include "WorkerTestSupport.h"
#include "ffmpeg_tools.h"
#include "stream_patch.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QUuid>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;
using testing::WirePacket;

constexpr int kAnalysisTimeoutMs = 120000;
constexpr int kDocumentCountKeys = 14;

const std::vector<QString> kDocumentCounts{
    "nalUnitCount", "parameterSetCount", "seiMessageCount", "sliceCount", "shortTermReferenceCount",
    "longTermReferenceCount", "referenceListEntryCount", "dpbSnapshotEntryCount", "decodedPictureCount",
    "ctuCount", "cuCount", "puCount", "tuCount", "motionVectorCount"};

bool isTaskEnd(const QString& type)
{
    return type == "analysisFinished" || type == "analysisCanceled" || type == "error";
}

// The real worker binary behind real pipes, with a real frame channel it connects to.
class AnalyzingWorker {
public:
    explicit AnalyzingWorker(bool withFrameChannel = true)
    {
        testing::coreApplication();
        channelName_ = QStringLiteral("vexilo-e2e-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
        QStringList arguments{QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())};
        if (withFrameChannel) {
            server_.listen(channelName_);
            arguments << QStringLiteral("--frame-channel") << channelName_;
        }
        process_.start(QStringLiteral(VEXILO_WORKER_EXECUTABLE), arguments);
        process_.waitForStarted(10000);
        send(testing::requestLine("hello", "h1"));
    }

    ~AnalyzingWorker()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    AnalyzingWorker(const AnalyzingWorker&) = delete;
    AnalyzingWorker& operator=(const AnalyzingWorker&) = delete;

    void send(const QByteArray& line)
    {
        process_.write(line);
        process_.waitForBytesWritten(5000);
    }

    void analyze(const std::filesystem::path& input, const std::filesystem::path& cacheRoot, const char* taskId)
    {
        send(testing::requestLine("analyze", "a1",
                                  {{"inputPath", QString::fromStdString(input.string())},
                                   {"cacheRoot", QString::fromStdString(cacheRoot.string())},
                                   {"analysisMode", "stream_index"}},
                                  taskId));
    }

    // Pumps events and packets until the condition holds; false on time-out.
    bool pumpUntil(const std::function<bool()>& condition, int timeoutMs = kAnalysisTimeoutMs)
    {
        return testing::spinUntil(
            [&] {
                takeEvents();
                takePackets();
                return condition();
            },
            timeoutMs);
    }

    bool waitForTaskEnd()
    {
        return pumpUntil([this] {
            return std::any_of(events.begin(), events.end(),
                               [](const QJsonObject& event) { return isTaskEnd(event.value("type").toString()); });
        });
    }

    // Frame packets stay in the socket while paused, so the worker blocks on a full channel.
    bool readingPackets = true;
    std::vector<QJsonObject> events;
    std::vector<WirePacket> packets;
    bool malformedPacket = false;

private:
    void takeEvents()
    {
        lines_.append(process_.readAllStandardOutput());
        while (std::optional<QJsonObject> event = lines_.take()) {
            events.push_back(*event);
        }
    }

    void takePackets()
    {
        if (socket_ == nullptr && server_.hasPendingConnections()) {
            socket_ = server_.nextPendingConnection();
        }
        if (socket_ == nullptr || !readingPackets) {
            return;
        }
        pending_ += socket_->readAll();
        for (;;) {
            qsizetype consumed = 0;
            std::optional<WirePacket> packet = testing::readWirePacket(pending_, consumed);
            if (!packet) {
                malformedPacket = malformedPacket || pending_.size() > 16 + 0x10000000LL;
                return;
            }
            packets.push_back(std::move(*packet));
            pending_.remove(0, consumed);
        }
    }

    QString channelName_;
    QLocalServer server_;
    QLocalSocket* socket_ = nullptr;
    QProcess process_;
    testing::EventLineBuffer lines_;
    QByteArray pending_;
};

std::vector<QJsonObject> eventsOfTask(const std::vector<QJsonObject>& events)
{
    std::vector<QJsonObject> task;
    std::copy_if(events.begin(), events.end(), std::back_inserter(task),
                 [](const QJsonObject& event) { return event.value("taskId").toString() == "t1"; });
    return task;
}

// Each picture's DTS is that of the packet that carried it (the decode index-th video packet:
// these clips carry one picture per packet), as ffprobe reads it from the container, and
// absent where the packet has none.
void expectPacketDts(const std::filesystem::path& input, const std::vector<analysis::PictureAnalysisSummary>& pictures)
{
    const std::vector<testing::ProbedTimestamps> packets = testing::ffprobeVideoPacketTimestamps(input);
    ASSERT_FALSE(packets.empty());
    for (const analysis::PictureAnalysisSummary& picture : pictures) {
        ASSERT_TRUE(picture.decodeIndex.has_value());
        const auto packet = static_cast<std::size_t>(*picture.decodeIndex);
        ASSERT_LT(packet, packets.size());
        EXPECT_EQ(picture.dts, packets[packet].dts) << "display index " << picture.displayIndex.value_or(-1);
        if (packets[packet].pts) {
            EXPECT_EQ(picture.pts, packets[packet].pts) << "display index " << picture.displayIndex.value_or(-1);
        }
    }
}

// Everything a successful "stream_index" run must show, against FFmpeg's own decode.
void expectAnalysedLikeFfmpeg(const std::filesystem::path& input, const std::filesystem::path& cacheRoot,
                              const AnalyzingWorker& worker, bool withFrameChannel = true)
{
    const std::optional<std::vector<std::int64_t>> ffmpegPts = testing::ffmpegOutputPts(input);
    ASSERT_TRUE(ffmpegPts.has_value());

    const std::vector<QJsonObject> task = eventsOfTask(worker.events);
    ASSERT_EQ(task.size(), 3u) << (task.empty() ? std::string() : QJsonDocument(task.back()).toJson().toStdString());
    EXPECT_EQ(task[0].value("type").toString(), "analysisStarted");
    ASSERT_EQ(task[1].value("type").toString(), "probeResult")
        << QJsonDocument(task[1]).toJson().toStdString();
    ASSERT_EQ(task[2].value("type").toString(), "analysisFinished");
    const QJsonObject probe = task[1].value("payload").toObject();
    const QJsonObject finished = task[2].value("payload").toObject();
    EXPECT_EQ(probe.value("codecName").toString(), "hevc");
    EXPECT_EQ(probe.value("structuresEmitted"), finished.value("structuresEmitted"));
    EXPECT_EQ(probe.value("pictureCount").toInteger(), probe.value("decodedPictureCount").toInteger());
    // The packets the decode went through: every picture came out of at least one video packet,
    // and packets of other streams were read but never decoded.
    const qint64 packetsSent = finished.value("packetsSent").toInteger(-1);
    EXPECT_GE(packetsSent, 1);
    EXPECT_GE(finished.value("packetsRead").toInteger(-1), packetsSent);
    EXPECT_EQ(finished.value("packetsRead"), probe.value("packetsRead"));
    EXPECT_EQ(finished.value("packetsSent"), probe.value("packetsSent"));

    // Frame packets: sequences 1..N, one per picture FFmpeg outputs, in FFmpeg's output order.
    ASSERT_FALSE(worker.malformedPacket);
    ASSERT_EQ(worker.packets.size(), withFrameChannel ? ffmpegPts->size() : 0u);
    for (std::size_t i = 0; i < worker.packets.size(); ++i) {
        const WirePacket& packet = worker.packets[i];
        EXPECT_EQ(packet.sequence, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(packet.displayIndex, static_cast<std::int64_t>(i));
        EXPECT_EQ(packet.pts, (*ffmpegPts)[i]) << "picture " << i;
    }

    // The cache reads back, validates, and holds what the events counted.
    const auto cached = testing::readCachedStream(cacheRoot);
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
    const auto& document = std::get<analysis::StreamAnalysis>(cached);
    EXPECT_TRUE(analysis::validateStreamAnalysis(document).empty());
    EXPECT_EQ(QFileInfo(probe.value("metadataPath").toString()).canonicalFilePath(),
              QFileInfo(QString::fromStdString((cacheRoot / "stream.vxmeta").string())).canonicalFilePath());
    EXPECT_EQ(probe.value("decodedPictureCount").toInteger(), static_cast<qint64>(document.pictures.size()));
    EXPECT_EQ(probe.value("nalUnitCount").toInteger(), static_cast<qint64>(document.nalUnits.size()));
    EXPECT_EQ(probe.value("parameterSetCount").toInteger(), static_cast<qint64>(document.parameterSets.size()));
    int countKeys = 0;
    for (const QString& key : kDocumentCounts) {
        countKeys += probe.contains(key) ? 1 : 0;
    }
    EXPECT_EQ(countKeys, kDocumentCountKeys);

    // The document's output pictures are FFmpeg's, in the same order.
    const std::vector<analysis::PictureAnalysisSummary> output = testing::outputPictures(document);
    ASSERT_EQ(output.size(), ffmpegPts->size());
    for (std::size_t i = 0; i < output.size(); ++i) {
        EXPECT_EQ(*output[i].displayIndex, static_cast<std::int64_t>(i));
        if (output[i].pts && (*ffmpegPts)[i] != INT64_MIN) {
            EXPECT_EQ(*output[i].pts, (*ffmpegPts)[i]) << "picture " << i;
        }
    }
    expectPacketDts(input, output);
}

class WorkerEndToEndClip : public ::testing::TestWithParam<const char*> {};

TEST_P(WorkerEndToEndClip, AnalysesLikeFfmpegDecodes)
{
    ScratchDirectory scratch;
    const std::filesystem::path input = testing::testMedia(GetParam());
    AnalyzingWorker worker;
    worker.analyze(input, scratch.path(), "t1");
    ASSERT_TRUE(worker.waitForTaskEnd());
    expectAnalysedLikeFfmpeg(input, scratch.path(), worker);
}

INSTANTIATE_TEST_SUITE_P(
    TestMedia, WorkerEndToEndClip,
    ::testing::Values("main_420_8bit_gop8.hevc", "main10_420_10bit.hevc", "rext_422_10bit.hevc",
                      "rext_444_8bit.hevc", "wavefront_slices.hevc", "lossless.hevc", "amp_weighted_sei.hevc",
                      "odd_size_intra.hevc", "quality_low.hevc", "main_420_8bit_gop8.mp4",
                      "main10_420_10bit.mov", "odd_177x97_444_8bit.hevc", "bpyramid_420_8bit.mp4",
                      "bpyramid_420_10bit.mov", "audio_first_hevc.mp4", "observer_444_12bit_intra.hevc",
                      "observer_422_12bit.hevc", "observer_open_gop_pyramid.hevc", "observer_tools_420_8bit.hevc",
                      "observer_slices_wpp_10bit.hevc", "observer_open_gop_pyramid.mp4"),
    testing::clipTestName);

// Monochrome pictures travel as 4:2:0 frames with mid-grey chroma, so a 4:0:0 stream streams
// its frames like any other.
TEST(WorkerEndToEnd, MonochromeClipStreamsItsFrames)
{
    ScratchDirectory scratch;
    const std::filesystem::path input = testing::testMedia("mono_400_8bit.hevc");
    AnalyzingWorker worker(true);
    worker.analyze(input, scratch.path(), "t1");
    ASSERT_TRUE(worker.waitForTaskEnd());
    expectAnalysedLikeFfmpeg(input, scratch.path(), worker, true);
}

// The MANIFEST's decode order restricted to the pictures that are output: the document holds
// the pictures the decoder outputs.
std::vector<std::int32_t> outputPicturesInDecodeOrder(const testing::ReferenceStream& stream)
{
    std::vector<std::int32_t> remaining = stream.pocOutputOrder;
    std::vector<std::int32_t> pocs;
    for (const std::int32_t poc : stream.pocDecodeOrder) {
        if (const auto found = std::find(remaining.begin(), remaining.end(), poc); found != remaining.end()) {
            remaining.erase(found);
            pocs.push_back(poc);
        }
    }
    return pocs;
}

// The reference streams: their pictures in decode and output order carry the POCs that the
// reference decoder derived.
class WorkerEndToEndReference : public ::testing::TestWithParam<testing::ReferenceStream> {};

std::vector<std::int32_t> pocsOrderedBy(std::vector<analysis::PictureAnalysisSummary> pictures,
                                        std::optional<std::int64_t> analysis::PictureAnalysisSummary::*order)
{
    std::erase_if(pictures, [order](const auto& picture) { return !(picture.*order).has_value(); });
    std::stable_sort(pictures.begin(), pictures.end(),
                     [order](const auto& left, const auto& right) { return *(left.*order) < *(right.*order); });
    std::vector<std::int32_t> pocs;
    for (const analysis::PictureAnalysisSummary& picture : pictures) {
        pocs.push_back(picture.poc.value_or(INT32_MIN));
    }
    return pocs;
}

TEST_P(WorkerEndToEndReference, AnalysesWithTheReferencePictureOrders)
{
    const testing::ReferenceStream& stream = GetParam();
    ScratchDirectory scratch;
    // The worker takes HEVC inputs by their usual names only.
    const std::filesystem::path input = scratch / (std::filesystem::path(stream.file).stem().string() + ".hevc");
    std::filesystem::copy_file(testing::referenceStreams() / stream.file, input);
    std::filesystem::create_directory(scratch / "cache");

    AnalyzingWorker worker(true);
    worker.analyze(input, scratch / "cache", "t1");
    ASSERT_TRUE(worker.waitForTaskEnd());
    expectAnalysedLikeFfmpeg(input, scratch / "cache", worker, true);

    const auto cached = testing::readCachedStream(scratch / "cache");
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached));
    const auto& document = std::get<analysis::StreamAnalysis>(cached);
    EXPECT_EQ(pocsOrderedBy(document.pictures, &analysis::PictureAnalysisSummary::displayIndex),
              stream.pocOutputOrder);
    EXPECT_EQ(pocsOrderedBy(document.pictures, &analysis::PictureAnalysisSummary::decodeIndex),
              outputPicturesInDecodeOrder(stream));
}

INSTANTIATE_TEST_SUITE_P(HmStreams, WorkerEndToEndReference,
                         ::testing::ValuesIn(testing::readReferenceStreamManifest()),
                         [](const ::testing::TestParamInfo<testing::ReferenceStream>& testCase) {
                             return testCase.param.file.substr(0, 3);
                         });

// Valid streams that FFmpeg's decoder refuses for their sample depths: the worker gives their
// stream-level analysis, which our own parser reads, and one record saying what FFmpeg does not
// decode, and takes none of the packets FFmpeg rejected for damaged.
class WorkerEndToEndDeepSamples : public ::testing::TestWithParam<hevc::test::DeepSampleStream> {};

TEST_P(WorkerEndToEndDeepSamples, GiveTheStreamsSyntaxAndSayWhatFfmpegDoesNotDecode)
{
    ScratchDirectory scratch;
    const std::filesystem::path input = hevc::test::writeDeepSampleStream(GetParam(), scratch.path());
    std::filesystem::create_directory(scratch / "cache");
    AnalyzingWorker worker(true);
    worker.analyze(input, scratch / "cache", "t1");
    ASSERT_TRUE(worker.waitForTaskEnd());
    const std::vector<QJsonObject> task = eventsOfTask(worker.events);
    ASSERT_FALSE(task.empty());
    ASSERT_EQ(task.back().value("type").toString(), "analysisFinished") << QJsonDocument(task.back()).toJson().toStdString();
    EXPECT_TRUE(worker.packets.empty());

    const auto cached = testing::readCachedStream(scratch / "cache");
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
    const auto& document = std::get<analysis::StreamAnalysis>(cached);
    EXPECT_TRUE(document.pictures.empty());
    EXPECT_TRUE(document.cus.empty());
    EXPECT_FALSE(document.slices.empty());
    const auto sps = std::find_if(document.parameterSets.begin(), document.parameterSets.end(),
                                  [](const auto& set) { return set.kind == analysis::ParameterSetKind::Sps; });
    ASSERT_NE(sps, document.parameterSets.end());
    const auto tracedDepth = [&](const char* element) {
        return hevc::test::ffmpegTracedValue(input, element).value_or(-8) + 8;
    };
    EXPECT_EQ(sps->bitDepth, tracedDepth("bit_depth_luma_minus8"));
    EXPECT_EQ(sps->chromaBitDepth, tracedDepth("bit_depth_chroma_minus8"));

    ASSERT_EQ(document.errors.size(), 1u);
    const analysis::AnalysisErrorInfo& error = document.errors.front();
    EXPECT_EQ(error.code, "analyzer.decode_failed");
    EXPECT_EQ(error.message, "FFmpeg failed while decoding the HEVC input");
    const std::string facts = "bitDepthLuma=" + std::to_string(tracedDepth("bit_depth_luma_minus8")) +
                              "; bitDepthChroma=" + std::to_string(tracedDepth("bit_depth_chroma_minus8")) +
                              "; packetsRejected=" +
                              std::to_string(testing::ffprobeVideoPacketTimestamps(input).size());
    EXPECT_TRUE(error.detail.ends_with(facts)) << error.detail;
    EXPECT_NE(error.detail.find("not decoded by this build's FFmpeg"), std::string::npos) << error.detail;
}

INSTANTIATE_TEST_SUITE_P(DeepSamples, WorkerEndToEndDeepSamples, ::testing::ValuesIn(hevc::test::deepSampleStreams()),
                         [](const ::testing::TestParamInfo<hevc::test::DeepSampleStream>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(WorkerEndToEnd, ReferenceManifestListsEveryStream)
{
    EXPECT_EQ(testing::readReferenceStreamManifest().size(), 33u);
}

// A cancel that arrives while the worker waits for the desktop to take a frame ends the task
// as canceled, without a cache.
TEST(WorkerEndToEnd, CancelDuringDecodeEndsCanceled)
{
    ScratchDirectory scratch;
    AnalyzingWorker worker;
    worker.analyze(testing::testMedia("wavefront_slices.hevc"), scratch.path(), "t1");
    ASSERT_TRUE(worker.pumpUntil([&worker] { return !worker.packets.empty(); }));
    worker.readingPackets = false;
    worker.send(testing::requestLine("cancel", "c1", {}, "t1"));
    ASSERT_TRUE(worker.pumpUntil([&worker] {
        return std::any_of(worker.events.begin(), worker.events.end(),
                           [](const QJsonObject& event) { return event.value("type") == "cancelAcknowledged"; });
    }));
    worker.readingPackets = true;
    ASSERT_TRUE(worker.waitForTaskEnd());
    const std::vector<QJsonObject> task = eventsOfTask(worker.events);
    ASSERT_FALSE(task.empty());
    EXPECT_EQ(task.back().value("type").toString(), "analysisCanceled");
    EXPECT_EQ(task.back().value("payload").toObject().value("reason").toString(), "requested");
    EXPECT_FALSE(std::filesystem::exists(scratch / "manifest.json"));
}

}  // namespace
}  // namespace vexilo::analyzer
