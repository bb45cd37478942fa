// moc cannot parse the standard <concepts> header that the analysis records pull in.
#ifndef Q_MOC_RUN
#include "vexilo/ai/AiEvidenceSections.h"
#include "vexilo/ai/AiQuestionTemplates.h"
#endif
#include "vexilo/test/QtTestRegistry.h"

#include <QtTest>

#include <array>
#include <limits>

using namespace vexilo::ai;
using vexilo::analysis::StableId;
using vexilo::domain::PictureInfo;
using vexilo::domain::PictureType;
using vexilo::media::FrameQualityMetrics;
using vexilo::media::PlaneQualityMetrics;
using vexilo::media::QualityMetricStatus;
using vexilo::media::RegionQualityMetrics;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

PictureInfo picture(std::int64_t id, std::int64_t display, PictureType type, std::int32_t poc)
{
    PictureInfo info;
    info.id = id;
    info.displayIndex = display;
    info.decodeIndex = id - 10;
    info.pts = display;
    info.dts = display > 0 ? std::optional<std::int64_t>(display) : std::nullopt;
    info.poc = poc;
    info.pictureType = type;
    info.width = 64;
    info.height = 32;
    info.bitDepth = 8;
    return info;
}

// Display 0..3: I, B, P and a type no picture should have.
std::vector<PictureInfo> fourPictures()
{
    return {picture(10, 0, PictureType::I, 0), picture(11, 1, PictureType::B, 2), picture(12, 2, PictureType::P, 4),
            picture(13, 3, static_cast<PictureType>(7), 6)};
}

const QString kPicture10 = QStringLiteral("display=0 id=10 type=I decode=0 pts=0 dts=N/A poc=0 size=64x32 bit_depth=8");
const QString kPicture11 = QStringLiteral("display=1 id=11 type=B decode=1 pts=1 dts=1 poc=2 size=64x32 bit_depth=8");
const QString kPicture12 = QStringLiteral("display=2 id=12 type=P decode=2 pts=2 dts=2 poc=4 size=64x32 bit_depth=8");
const QString kPicture13 =
    QStringLiteral("display=3 id=13 type=Unknown decode=3 pts=3 dts=3 poc=6 size=64x32 bit_depth=8");

vexilo::analysis::NalUnitInfo nalUnit(std::optional<std::uint64_t> pictureId, std::uint64_t bytes)
{
    vexilo::analysis::NalUnitInfo unit;
    unit.pictureId = pictureId;
    unit.byteSize = bytes;
    return unit;
}

vexilo::analysis::SliceInfo slice(std::uint64_t low, std::uint64_t pictureId, std::optional<std::int16_t> qp)
{
    vexilo::analysis::SliceInfo info;
    info.id = StableId{0, low};
    info.pictureId = pictureId;
    info.sliceQp = qp;
    return info;
}

vexilo::analysis::StreamAnalysis smallDocument()
{
    vexilo::analysis::StreamAnalysis document;
    document.nalUnits = {nalUnit(std::nullopt, 20), nalUnit(10, 1000), nalUnit(11, 300), nalUnit(10, 500),
                         nalUnit(12, 700), nalUnit(99, 2000)};
    vexilo::analysis::PictureAnalysisSummary summary;
    summary.pictureId = 10;
    summary.completeness = vexilo::analysis::PictureCompleteness::Complete;
    summary.sliceCount = 2;
    summary.ctuCount = 4;
    summary.cuCount = 10;
    summary.tuCount = 30;
    document.pictures = {summary};
    document.slices = {slice(1, 10, 30), slice(2, 10, 33), slice(3, 11, 40), slice(4, 10, std::nullopt)};
    for (const std::uint64_t parent : std::initializer_list<std::uint64_t>{1, 1, 2, 3}) {
        vexilo::analysis::ReferencePictureEntry reference;
        reference.parentSliceId = StableId{0, parent};
        document.referencePictures.push_back(reference);
    }
    return document;
}

PlaneQualityMetrics available(double psnr, double ssim = 0.95, double mse = 2.5)
{
    PlaneQualityMetrics plane;
    plane.status = QualityMetricStatus::Available;
    plane.psnr = psnr;
    plane.ssim = ssim;
    plane.mse = mse;
    return plane;
}

PlaneQualityMetrics failed(QualityMetricStatus status, std::string message = {})
{
    PlaneQualityMetrics plane;
    plane.status = status;
    plane.mse = 2.0;
    plane.message = std::move(message);
    return plane;
}

FrameQualityMetrics frameWithTotal(double totalPsnr)
{
    FrameQualityMetrics metrics;
    metrics.y = available(totalPsnr);
    metrics.u = available(totalPsnr);
    metrics.v = available(totalPsnr);
    metrics.all = available(totalPsnr);
    return metrics;
}

AiEvidenceQualityPair qualityPair(std::int64_t frame, std::optional<double> totalA, std::optional<double> totalB)
{
    AiEvidenceQualityPair pair;
    pair.frameIndex = frame;
    if (totalA) {
        pair.metricsA = frameWithTotal(*totalA);
    }
    if (totalB) {
        pair.metricsB = frameWithTotal(*totalB);
    }
    return pair;
}

RegionQualityMetrics region(std::int32_t x, std::int32_t y, PlaneQualityMetrics all, PlaneQualityMetrics luma)
{
    RegionQualityMetrics block;
    block.x = x;
    block.y = y;
    block.width = 64;
    block.height = 64;
    block.yMetrics = std::move(luma);
    block.allMetrics = std::move(all);
    return block;
}

QStringList linesOf(const std::function<void(QStringList&)>& append)
{
    QStringList lines;
    append(lines);
    return lines;
}

}  // namespace

class AiEvidenceSectionsTest : public QObject {
    Q_OBJECT

private slots:
    void sharedFormats()
    {
        QCOMPARE(formatEvidenceNumber(std::nullopt, 2), QStringLiteral("N/A"));
        QCOMPARE(formatEvidenceNumber(kInfinity, 2), QStringLiteral("inf"));
        QCOMPARE(formatEvidenceNumber(-kInfinity, 2), QStringLiteral("inf"));
        QCOMPARE(formatEvidenceNumber(31.456, 2), QStringLiteral("31.46"));
        QCOMPARE(formatEvidenceNumber(0.5, 6), QStringLiteral("0.500000"));
        QCOMPARE(formatOptionalCount(std::optional<std::int64_t>(-3)), QStringLiteral("-3"));
        QCOMPARE(formatOptionalCount(std::optional<std::uint32_t>()), QStringLiteral("N/A"));
        QCOMPARE(formatEvidenceFileName(QStringLiteral("C:\\clips\\ref.yuv")), QStringLiteral("ref.yuv"));
        QCOMPARE(formatEvidenceFileName(QStringLiteral("/data/a\\b/clip.hevc")), QStringLiteral("clip.hevc"));
        QCOMPARE(formatEvidenceFileName(QString()), QStringLiteral("N/A"));
        QCOMPARE(formatPictureEvidence(fourPictures()[0]), kPicture10);
        QCOMPARE(formatPlaneQualityEvidence(available(40.0, 0.98765, 0.0123456)),
                 QStringLiteral("40.00 dB, SSIM 0.9877, MSE 0.012346"));
        QCOMPARE(formatPlaneQualityEvidence(failed(QualityMetricStatus::NoReference)), QStringLiteral("no_reference"));
        QCOMPARE(formatPlaneQualityEvidence(failed(QualityMetricStatus::MissingReferenceFrame, "frame 9 is past the end")),
                 QStringLiteral("missing_reference_frame, frame 9 is past the end"));
        QCOMPARE(formatFrameQualityEvidence(std::nullopt), QStringLiteral("unavailable"));
    }

    void referenceLine()
    {
        vexilo::domain::ReferenceYuvSource source;
        source.path = "/data/ref%1.yuv";
        source.width = 64;
        source.height = 32;
        source.layout = vexilo::domain::ReferenceYuvLayout::P010;
        source.frameOffset = -2;
        source.frameSizeBytes = 6144;
        source.matchedFrames = 3;
        QCOMPARE(formatReferenceYuvEvidence(source),
                 QStringLiteral("file=ref%1.yuv resolution=64x32 layout=P010 bit_depth=10 frame_offset=-2 "
                                "frame_size_bytes=6144 physical_frames=N/A matched_frames=3"));
        source.layout = vexilo::domain::ReferenceYuvLayout::Unknown;
        QVERIFY(formatReferenceYuvEvidence(source).contains(QStringLiteral(" layout=Unknown bit_depth=0 ")));
    }

    void pictureTypeDistribution()
    {
        QCOMPARE(linesOf([](QStringList& l) { appendPictureTypeDistribution(l, fourPictures()); }),
                 QStringList({"picture type distribution: I=1 P=1 B=1 Unknown=1"}));
    }

    void selectedPictureSection()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.pictures = fourPictures();
        snapshot.pictureAnalysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(smallDocument());
        const vexilo::analysis::StreamAnalysis* document = snapshot.pictureAnalysis.get();
        const auto section = [&](std::optional<std::int64_t> selected, const vexilo::analysis::StreamAnalysis* doc) {
            snapshot.selectedPictureId = selected;
            return linesOf([&](QStringList& l) { appendSelectedPictureEvidence(l, snapshot, doc); });
        };
        QCOMPARE(section(std::nullopt, document),
                 QStringList({"[selected-picture evidence]", "selected picture: unavailable"}));
        QCOMPARE(section(10, nullptr), QStringList({"[selected-picture evidence]", "decoded metadata: " + kPicture10,
                                                    "syntax analysis: unavailable"}));
        QCOMPARE(section(10, document),
                 QStringList({"[selected-picture evidence]", "decoded metadata: " + kPicture10,
                              "analysis summary: completeness=complete slices=2 ctus=4 cus=10 pus=N/A tus=30",
                              "slice count loaded: 3", "slice QP: min=30 avg=31.50 max=33",
                              "reference pictures linked to selected slices: 3"}));
        QCOMPARE(section(55, document),
                 QStringList({"[selected-picture evidence]", "decoded metadata: unavailable",
                              "analysis picture summary: unavailable", "slice count loaded: 0", "slice QP: N/A",
                              "reference pictures linked to selected slices: 0"}));
    }

    void frameSizeSection()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.pictures = fourPictures();
        snapshot.pictureAnalysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(smallDocument());
        const vexilo::analysis::StreamAnalysis& document = *snapshot.pictureAnalysis;
        const QStringList ranks{"[frame-size evidence]", "top picture byte sizes from NAL payload sizes:",
                                "- rank=1 bytes=2000 picture_id=99", "- rank=2 bytes=1500 " + kPicture10,
                                "- rank=3 bytes=700 " + kPicture12, "- rank=4 bytes=300 " + kPicture11};
        const auto section = [&](std::optional<std::int64_t> selected) {
            snapshot.selectedPictureId = selected;
            return linesOf([&](QStringList& l) { appendFrameSizeEvidence(l, snapshot, &document); });
        };
        QCOMPARE(section(std::nullopt), ranks + QStringList({"selected-picture neighbor byte comparison: unavailable"}));
        QCOMPARE(section(10), ranks + QStringList({"selected-picture neighbor byte comparison:",
                                                   "- display=-1 unavailable", "- bytes=1500 " + kPicture10,
                                                   "- bytes=300 " + kPicture11}));
        QCOMPARE(section(12), ranks + QStringList({"selected-picture neighbor byte comparison:",
                                                   "- bytes=300 " + kPicture11, "- bytes=700 " + kPicture12,
                                                   "- bytes=N/A " + kPicture13}));

        vexilo::analysis::StreamAnalysis withoutPictureUnits;
        withoutPictureUnits.nalUnits = {nalUnit(std::nullopt, 20)};
        snapshot.pictureAnalysis.reset();
        QCOMPARE(linesOf([&](QStringList& l) { appendFrameSizeEvidence(l, snapshot, &withoutPictureUnits); }),
                 QStringList({"[frame-size evidence]", "per-picture byte sizes: unavailable in current analysis"}));
    }

    void byteRanksStopAtEight()
    {
        AiEvidenceSnapshot snapshot;
        vexilo::analysis::StreamAnalysis document;
        for (std::uint64_t id = 1; id <= 12; ++id) {
            document.nalUnits.push_back(nalUnit(id, id * 100));
        }
        snapshot.pictureAnalysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(std::move(document));
        const QStringList lines =
            linesOf([&](QStringList& l) { appendFrameSizeEvidence(l, snapshot, snapshot.pictureAnalysis.get()); });
        QCOMPARE(lines.size(), 2 + 8 + 1);
        QCOMPARE(lines.at(2), QStringLiteral("- rank=1 bytes=1200 picture_id=12"));
        QCOMPARE(lines.at(9), QStringLiteral("- rank=8 bytes=500 picture_id=5"));
    }

    // The stream's document names pictures by the analyzer's own identities, in decode order here,
    // and knows their POC, decode index and times, which the decoder's records lack: sizes and
    // slices go to the picture of the same display index, described with what the document knows.
    void theStreamDocumentsPicturesMeetTheDecodedOnesByDisplayIndex()
    {
        AiEvidenceSnapshot snapshot;
        for (PictureInfo decoded : fourPictures()) {
            decoded.decodeIndex.reset();
            decoded.pts.reset();
            decoded.dts.reset();
            decoded.poc.reset();
            snapshot.pictures.push_back(decoded);
        }
        vexilo::analysis::StreamAnalysis document;
        // Analyzer identity, display index (none: decoded but not output), decode index, POC.
        const std::array<std::array<std::optional<std::int64_t>, 4>, 5> summaries{{
            {1, 0, 0, 0}, {2, 2, 1, 4}, {3, 1, 2, 2}, {4, 3, 3, 6}, {5, std::nullopt, 4, 8}}};
        for (const auto& [analyzerId, display, decode, poc] : summaries) {
            vexilo::analysis::PictureAnalysisSummary summary;
            summary.pictureId = static_cast<std::uint64_t>(*analyzerId);
            summary.displayIndex = display;
            summary.decodeIndex = decode;
            summary.pts = display.has_value() ? std::optional(*display * 512) : std::nullopt;
            summary.dts = *decode * 512 - 1024;
            summary.poc = static_cast<std::int32_t>(*poc);
            summary.ctuCount = 4;
            document.pictures.push_back(summary);
        }
        document.nalUnits = {nalUnit(1, 900), nalUnit(1, 100), nalUnit(2, 700), nalUnit(3, 300), nalUnit(5, 50)};
        document.slices = {slice(1, 1, 22), slice(2, 2, 27), slice(3, 3, 30)};
        snapshot.streamAnalysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(std::move(document));
        snapshot.selectedPictureId = 12;

        const QString display0 =
            QStringLiteral("display=0 id=10 type=I decode=0 pts=0 dts=-1024 poc=0 size=64x32 bit_depth=8");
        const QString display1 =
            QStringLiteral("display=1 id=11 type=B decode=2 pts=512 dts=0 poc=2 size=64x32 bit_depth=8");
        const QString display2 =
            QStringLiteral("display=2 id=12 type=P decode=1 pts=1024 dts=-512 poc=4 size=64x32 bit_depth=8");
        const QString display3 =
            QStringLiteral("display=3 id=13 type=Unknown decode=3 pts=1536 dts=512 poc=6 size=64x32 bit_depth=8");
        const vexilo::analysis::StreamAnalysis* stream = snapshot.streamAnalysis.get();
        QCOMPARE(linesOf([&](QStringList& l) { appendFrameSizeEvidence(l, snapshot, stream); }),
                 QStringList({"[frame-size evidence]", "top picture byte sizes from NAL payload sizes:",
                              "- rank=1 bytes=1000 " + display0, "- rank=2 bytes=700 " + display2,
                              "- rank=3 bytes=300 " + display1, "- rank=4 bytes=50 no decoded picture: decode=4 poc=8",
                              "selected-picture neighbor byte comparison:", "- bytes=300 " + display1,
                              "- bytes=700 " + display2, "- bytes=N/A " + display3}));
        QCOMPARE(linesOf([&](QStringList& l) { appendSelectedPictureEvidence(l, snapshot, stream); }),
                 QStringList({"[selected-picture evidence]", "decoded metadata: " + display2,
                              "analysis summary: completeness=unknown slices=N/A ctus=4 cus=N/A pus=N/A tus=N/A",
                              "slice count loaded: 1", "slice QP: min=27 avg=27.00 max=27",
                              "reference pictures linked to selected slices: 0"}));
    }

    void qualityDropSection()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.pictures = fourPictures();
        snapshot.selectedPictureId = 10;
        AiEvidenceQualityPair target = qualityPair(0, 35.0, 34.5);
        target.metricsA->y = failed(QualityMetricStatus::NoReference);
        target.metricsA->u = failed(QualityMetricStatus::MissingReferenceFrame, "gone");
        target.regionsA = {region(0, 0, available(30.0, 0.9, 0.5), available(31.0)),
                           region(64, 0, available(28.0, 0.9, 1.25), failed(QualityMetricStatus::ComputeError)),
                           region(0, 64, failed(QualityMetricStatus::NoReference), available(20.0))};
        target.regionsB = {region(0, 0, failed(QualityMetricStatus::FormatMismatch), available(40.0))};
        snapshot.qualityPairResults = {target, qualityPair(1, kInfinity, 33.0), qualityPair(2, std::nullopt, std::nullopt),
                                       qualityPair(3, 40.0, std::nullopt)};
        const QStringList lowest{"lowest-PSNR quality frames:", "- frame=1 A_total_psnr=inf B_total_psnr=33.00",
                                 "- frame=0 A_total_psnr=35.00 B_total_psnr=34.50",
                                 "- frame=3 A_total_psnr=40.00 B_total_psnr=N/A"};
        const auto section = [&] { return linesOf([&](QStringList& l) { appendQualityDropEvidence(l, snapshot); }); };

        QCOMPARE(section(),
                 QStringList({"[quality-drop evidence]",
                              "target frame quality: frame=0 A=Y no_reference; U missing_reference_frame, gone; "
                              "V 35.00 dB, SSIM 0.9500, MSE 2.500000; total 35.00 dB, SSIM 0.9500, MSE 2.500000 "
                              "B=Y 34.50 dB, SSIM 0.9500, MSE 2.500000; U 34.50 dB, SSIM 0.9500, MSE 2.500000; "
                              "V 34.50 dB, SSIM 0.9500, MSE 2.500000; total 34.50 dB, SSIM 0.9500, MSE 2.500000",
                              "A worst quality blocks:",
                              "- x=64 y=0 w=64 h=64 total_psnr=28.00 Y_psnr=N/A total_mse=1.250000",
                              "- x=0 y=0 w=64 h=64 total_psnr=30.00 Y_psnr=31.00 total_mse=0.500000",
                              "B worst quality blocks: unavailable"}) +
                     lowest);

        snapshot.currentCompareFrameIndex = 5;
        QCOMPARE(section(), QStringList({"[quality-drop evidence]", "target frame quality: unavailable for frame=5"}) +
                                lowest);

        snapshot.currentCompareFrameIndex.reset();
        snapshot.selectedPictureId.reset();
        QCOMPARE(section(), QStringList({"[quality-drop evidence]", "target frame quality: no selected frame"}) + lowest);

        snapshot.qualityPairResults = {qualityPair(2, std::nullopt, std::nullopt)};
        QCOMPARE(section(), QStringList({"[quality-drop evidence]", "target frame quality: no selected frame",
                                         "lowest-PSNR frames: unavailable"}));
    }

    void worstRegionsKeepTheSixLowest()
    {
        std::vector<RegionQualityMetrics> regions;
        for (int k = 8; k >= 1; --k) {
            regions.push_back(region(k, 0, available(k), available(k)));
        }
        const auto worst = worstRegions(regions);
        QCOMPARE(worst.size(), std::size_t{6});
        for (std::size_t k = 0; k < worst.size(); ++k) {
            QCOMPARE(*worst[k].allMetrics.psnr, static_cast<double>(k + 1));
        }
    }

    void abQualitySection()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.comparePairCount = 42;
        AiEvidenceComparePair pair;
        pair.pictureIdA = 10;
        pair.pictureIdB = 20;
        pair.displayIndexA = 0;
        pair.displayIndexB = 0;
        pair.pocA = 0;
        pair.pictureTypeA = 1;
        pair.pictureTypeB = 7;
        pair.matchText = QStringLiteral("matched");
        pair.resolutionText = QStringLiteral("64x32");
        pair.metricsA = frameWithTotal(30.5);
        pair.metricsB = frameWithTotal(30.0);
        pair.metricsB->all = failed(QualityMetricStatus::NoReference);
        snapshot.sampledComparePairs = {pair};
        snapshot.qualityPairResults = {qualityPair(0, 30.5, 30.0),  qualityPair(1, kInfinity, 33.0),
                                       qualityPair(4, 0.005, 0.0),  qualityPair(5, 0.0051, 0.0),
                                       qualityPair(6, 0.0, 0.0052), qualityPair(7, 28.0, 31.0),
                                       qualityPair(8, 29.0, std::nullopt)};
        QCOMPARE(linesOf([&](QStringList& l) { appendAbQualityEvidence(l, snapshot); }),
                 QStringList({"[A/B quality-difference evidence]", "compare pair count: 42", "sampled compare pairs:",
                              "- frame=0 ref=N/A A(id=10 display=0 poc=0 type=I) B(id=20 display=0 poc=N/A "
                              "type=Unknown) match=matched resolution=64x32 A_total_psnr=30.50 B_total_psnr=N/A",
                              "A/B total PSNR summary: frames=5 A_wins=2 B_wins=2 ties=1 mean_A_minus_B=-0.50 dB",
                              "largest A/B total PSNR gaps:", "- frame=7 A_minus_B=-3.00 dB",
                              "- frame=0 A_minus_B=0.50 dB", "- frame=6 A_minus_B=-0.01 dB",
                              "- frame=5 A_minus_B=0.01 dB", "- frame=4 A_minus_B=0.01 dB"}));

        snapshot.qualityPairResults = {qualityPair(1, kInfinity, 33.0)};
        snapshot.sampledComparePairs.clear();
        QCOMPARE(linesOf([&](QStringList& l) { appendAbQualityEvidence(l, snapshot); }),
                 QStringList({"[A/B quality-difference evidence]", "compare pair count: 42",
                              "sampled compare pairs: unavailable",
                              "A/B PSNR deltas: unavailable; compute quality metrics for both streams"}));
    }

    void questionTemplates()
    {
        const auto templates = aiQuestionTemplates();
        QCOMPARE(templates.size(), std::size_t{3});
        const QStringList titles{"Frame Size Spike", "Quality Drop", "A/B Quality Difference"};
        for (std::size_t k = 0; k < templates.size(); ++k) {
            QCOMPARE(templates[k].id, static_cast<std::int32_t>(k));
            QCOMPARE(templates[k].title, titles.at(static_cast<qsizetype>(k)));
            QVERIFY(templates[k].instruction.startsWith(QStringLiteral("Use the Vexilo evidence to ")));
            QVERIFY(templates[k].requiredEvidence.startsWith(QStringLiteral("Requires ")));
        }
    }
};

VEXILO_QT_TEST(AiEvidenceSectionsTest)
#include "AiEvidenceSectionsTest.moc"
