// moc cannot parse the standard <concepts> header that the analysis records pull in.
#ifndef Q_MOC_RUN
#include "vexilo/ai/AiEvidencePackBuilder.h"
#endif
#include "vexilo/test/QtTestRegistry.h"

#include <QtTest>

using vexilo::ai::AiEvidencePackBuilder;
using vexilo::ai::AiEvidenceSnapshot;

namespace {

const QString kMarker = QStringLiteral("\n[truncated: evidence exceeded configured context limit]");

QString render(AiEvidenceSnapshot snapshot)
{
    return AiEvidencePackBuilder(std::move(snapshot)).build();
}

QString renderUnlimited(AiEvidenceSnapshot snapshot)
{
    snapshot.contextCharacterLimit = 0;
    return render(std::move(snapshot));
}

vexilo::domain::PictureInfo picture(vexilo::domain::PictureId id, std::int64_t display,
                                    vexilo::domain::PictureType type)
{
    vexilo::domain::PictureInfo info;
    info.id = id;
    info.displayIndex = display;
    info.pictureType = type;
    return info;
}

}  // namespace

class AiEvidencePackBuilderTest : public QObject {
    Q_OBJECT

private slots:
    void defaultSnapshotSaysEverythingIsUnavailable()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.contextCharacterLimit = 12000;
        const QStringList expected{
            "Vexilo AI Evidence Pack v1",
            "status: N/A",
            "data policy: no decoded pixels or source bitstream bytes are included",
            "[decoded stream]",
            "stream: unavailable",
            "decoded pictures: 0",
            "picture type distribution: I=0 P=0 B=0 Unknown=0",
            "[stream analysis]",
            "stream analysis: unavailable",
            "[selected-picture evidence]",
            "selected picture: unavailable",
            "[frame-size evidence]",
            "per-picture byte sizes: unavailable; run Analyze Stream with analyzer metadata",
            "[reference YUV]",
            "reference YUV: unavailable",
            "[quality-drop evidence]",
            "quality metrics: unavailable; attach Reference YUV and run Quality Detect",
            "[A/B quality-difference evidence]",
            "compare pair count: 0",
            "sampled compare pairs: unavailable",
            "A/B PSNR deltas: unavailable; compute quality metrics for both streams",
        };
        const QString pack = render(snapshot);
        QCOMPARE(pack.split(QLatin1Char('\n')), expected);
        QVERIFY(!pack.endsWith(QLatin1Char('\n')));
        QCOMPARE(render(AiEvidenceSnapshot{}), pack);
    }

    void statusLineIsTrimmed()
    {
        const QList<QPair<QString, QString>> cases{
            {QStringLiteral("    "), QStringLiteral("status: N/A")},
            {QStringLiteral("  Ready  "), QStringLiteral("status: Ready")},
            {QStringLiteral("Decoding 50%1"), QStringLiteral("status: Decoding 50%1")},
        };
        for (const auto& [status, line] : cases) {
            AiEvidenceSnapshot snapshot;
            snapshot.statusText = status;
            QCOMPARE(render(snapshot).split(QLatin1Char('\n')).at(1), line);
        }
    }

    void decodedStreamAndAnalysisCounts()
    {
        AiEvidenceSnapshot snapshot;
        vexilo::domain::StreamInfo info;
        info.sourcePath = "/media/clips/take%1.hevc";
        info.codecName = "hevc";
        info.width = 1920;
        info.height = 1080;
        info.bitDepth = 10;
        info.pixelFormatName = "yuv420p10le";
        info.frameCount = -1;
        snapshot.streamInfo = info;
        snapshot.pictures = {picture(1, 0, vexilo::domain::PictureType::I),
                             picture(2, 1, vexilo::domain::PictureType::B)};
        vexilo::analysis::StreamAnalysis document;
        document.width = 1920;
        document.bitDepth = 10;
        document.nalUnits.resize(3);
        document.slices.resize(2);
        document.errors.resize(1);
        document.referencePictures.resize(5);  // not counted
        // Blocks are known for two pictures of three: the stream's document counts them in its
        // summaries, its own block collections stay empty.
        document.pictures.resize(3);
        for (const std::size_t known : {std::size_t{0}, std::size_t{2}}) {
            document.pictures[known].ctuCount = 510;
            document.pictures[known].cuCount = 700 + known;
            document.pictures[known].puCount = 800;
            document.pictures[known].tuCount = 900;
        }
        snapshot.streamAnalysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(document);

        const QStringList lines = render(snapshot).split(QLatin1Char('\n'));
        const QStringList expected{
            "[decoded stream]",
            "source file: take%1.hevc",
            "codec: hevc",
            "resolution: 1920 x 1080",
            "bit depth: 10",
            "pixel format: yuv420p10le",
            "container picture count: none read from the container",
            "decoded pictures: 2",
            "picture type distribution: I=1 P=0 B=1 Unknown=0",
            "[stream analysis]",
            "schema_version=1 minimum_reader_version=1",
            "analysis dimensions: 1920 x N/A bit_depth=10",
            "NALs=3 parameter_sets=0 SEI=0 slices=2 pictures=3 errors=1",
            "pictures with known blocks: 2 of 3",
            "blocks in pictures with known blocks: CTUs=1020 CUs=1402 PUs=1600 TUs=1800",
        };
        QCOMPARE(lines.mid(3, expected.size()), expected);

        info.frameCount = 24;
        snapshot.streamInfo = info;
        for (auto& picture : document.pictures) {
            picture.ctuCount.reset();
        }
        snapshot.streamAnalysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(document);
        const QStringList withoutBlocks = render(snapshot).split(QLatin1Char('\n'));
        QCOMPARE(withoutBlocks.at(9), QStringLiteral("container picture count: 24"));
        QCOMPARE(withoutBlocks.mid(16, 2), QStringList({"pictures with known blocks: 0 of 3",
                                                        "blocks in pictures with known blocks: unavailable"}));
    }

    void picturesWithoutStreamInfoStillCount()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.pictures = {picture(1, 0, vexilo::domain::PictureType::P),
                             picture(2, 1, static_cast<vexilo::domain::PictureType>(7))};
        const QStringList lines = render(snapshot).split(QLatin1Char('\n'));
        QCOMPARE(lines.mid(4, 3), QStringList({"stream: unavailable", "decoded pictures: 2",
                                               "picture type distribution: I=0 P=1 B=0 Unknown=1"}));
    }

    void pictureDocumentServesBothSectionsWithoutStreamAnalysis()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.pictures = {picture(4, 0, vexilo::domain::PictureType::I)};
        snapshot.selectedPictureId = 4;
        vexilo::analysis::StreamAnalysis document;
        vexilo::analysis::NalUnitInfo unit;
        unit.pictureId = 4;
        unit.byteSize = 321;
        document.nalUnits.push_back(unit);
        snapshot.pictureAnalysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(document);
        snapshot.pictureAnalysisPictureId = 4;
        const QString pack = render(snapshot);
        QVERIFY(pack.contains(QStringLiteral("[stream analysis]\nstream analysis: unavailable\n")));
        QVERIFY(pack.contains(QStringLiteral("analysis picture summary: unavailable")));
        QVERIFY(!pack.contains(QStringLiteral("syntax analysis: unavailable")));
        QVERIFY(pack.contains(QStringLiteral("- rank=1 bytes=321 display=0 id=4 type=I")));
    }

    void sizeLimitCutsToExactlyTheLimit()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.statusText = QString(500, QLatin1Char('s'));
        const QString full = renderUnlimited(snapshot);
        const auto fullSize = static_cast<std::uint64_t>(full.size());

        snapshot.contextCharacterLimit = fullSize;
        QCOMPARE(render(snapshot), full);

        snapshot.contextCharacterLimit = fullSize - 1;
        const QString cut = render(snapshot);
        QCOMPARE(static_cast<std::uint64_t>(cut.size()), fullSize - 1);
        QVERIFY(cut.endsWith(kMarker));
        QCOMPARE(cut, full.left(full.size() - 1 - kMarker.size()) + kMarker);

        snapshot.contextCharacterLimit = 12000;
        snapshot.statusText = QString(20000, QLatin1Char('s'));
        const QString main = render(snapshot);
        QCOMPARE(main.size(), 12000);
        QVERIFY(main.endsWith(kMarker));

        snapshot.contextCharacterLimit = 40;
        QCOMPARE(render(snapshot), renderUnlimited(snapshot).left(40) + kMarker);

        snapshot.contextCharacterLimit = 0;
        QCOMPARE(render(snapshot).size(), renderUnlimited(snapshot).size());
        QVERIFY(!render(snapshot).contains(kMarker));
    }

    void cutNeverSplitsASurrogatePair()
    {
        AiEvidenceSnapshot snapshot;
        snapshot.statusText = QStringLiteral("abc") + QString::fromUtf8("\xF0\x9F\x8E\xAC") + QStringLiteral("def");
        const QString full = renderUnlimited(snapshot);
        const qsizetype high = full.indexOf(QString::fromUtf8("\xF0\x9F\x8E\xAC"));
        QVERIFY(full.at(high).isHighSurrogate());
        // Cutting after the high half would keep high + 1 units; the cut backs off to the pair's start.
        snapshot.contextCharacterLimit = static_cast<std::uint64_t>(high + 1 + kMarker.size());
        const QString cut = render(snapshot);
        QCOMPARE(cut, full.left(high) + kMarker);
        QVERIFY(!cut.at(cut.size() - kMarker.size() - 1).isHighSurrogate());
        // A cut right after the whole pair keeps it.
        snapshot.contextCharacterLimit = static_cast<std::uint64_t>(high + 2 + kMarker.size());
        QCOMPARE(render(snapshot), full.left(high + 2) + kMarker);
    }
};

VEXILO_QT_TEST(AiEvidencePackBuilderTest)
#include "AiEvidencePackBuilderTest.moc"
