// Every model over documents that the real analyzer worker wrote for real streams, written
// out as text and compared with the files under tests/golden. Set VEXILO_UPDATE_GOLDEN=1 to
// rewrite the files (then read the differences before committing them).

#include "AnalyzedStreamFixture.h"
#include "ModelTextDump.h"
#include "vexilo/models/BlockInfoModel.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/models/InspectorModel.h"
#include "vexilo/models/PictureStatisticsModel.h"
#include "vexilo/models/PictureTableModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <memory>

using namespace vexilo;

namespace {

constexpr std::size_t kExplainedPerCollection = 3;

struct CachedAnalysis {
    analysis::StreamAnalysis stream;
    std::shared_ptr<const analysis::StreamAnalysis> picture;
    domain::PictureId pictureId = 0;
};

// The stream document and one picture's document: the first B picture when there is one,
// else the second picture in decode order (or the only one).
bool choosePicture(const vexilo::test::AnalyzedStream& analyzed, CachedAnalysis& cached) {
    cached.stream = *analyzed.stream;
    const auto& pictures = cached.stream.pictures;
    if (pictures.empty()) {
        return false;
    }
    auto chosen = std::find_if(pictures.begin(), pictures.end(),
                               [](const auto& picture) { return picture.pictureType == analysis::PictureType::B; });
    if (chosen == pictures.end()) {
        chosen = pictures.begin() + (pictures.size() > 1 ? 1 : 0);
    }
    const auto entry = std::find(analyzed.pictureIds.begin(), analyzed.pictureIds.end(), chosen->id);
    if (entry == analyzed.pictureIds.end() || !chosen->pictureId.has_value()) {
        return false;
    }
    cached.picture = analyzed.pictures[static_cast<std::size_t>(entry - analyzed.pictureIds.begin())];
    cached.pictureId = static_cast<domain::PictureId>(*chosen->pictureId);
    return true;
}

domain::PictureInfoBatch pictureRows(const analysis::StreamAnalysis& stream) {
    domain::PictureInfoBatch rows;
    for (const auto& summary : stream.pictures) {
        domain::PictureInfo info;
        info.id = static_cast<domain::PictureId>(summary.pictureId.value_or(0));
        info.displayIndex = summary.displayIndex.value_or(-1);
        rows.push_back(info);
    }
    return rows;
}

QStringList dumpPictureTable(const CachedAnalysis& cached, domain::PictureInfoBatch& refined) {
    PictureTableModel model;
    model.appendPictures(pictureRows(cached.stream));
    for (const auto& summary : cached.stream.pictures) {
        model.updatePicture(summary);
    }
    model.setAnalysisStatus(cached.pictureId, QStringLiteral("Picture analysis loaded"));
    for (int row = 0; row < model.rowCount(); ++row) {
        domain::PictureInfo info;
        info.id = *model.pictureIdAt(row);
        info.displayIndex = model.data(model.index(row, 0)).toLongLong();
        refined.push_back(info);
    }
    return vexilo::test::dumpModel(model, QStringLiteral("PictureTableModel"));
}

QStringList dumpComparePairs(const analysis::StreamAnalysis& stream) {
    domain::PictureInfoBatch a;
    for (const auto& summary : stream.pictures) {
        domain::PictureInfo info;
        info.id = static_cast<domain::PictureId>(summary.pictureId.value_or(0));
        info.displayIndex = summary.displayIndex.value_or(-1);
        info.poc = summary.poc;
        info.pictureType = static_cast<domain::PictureType>(summary.pictureType);
        info.width = static_cast<std::int32_t>(summary.width.value_or(0));
        info.height = static_cast<std::int32_t>(summary.height.value_or(0));
        info.bitDepth = summary.bitDepth.value_or(0);
        a.push_back(info);
    }
    domain::PictureInfoBatch b(a.begin(), a.end() - (a.empty() ? 0 : 1));
    ComparePicturePairModel model;
    model.setPictures(a, b);
    QStringList lines = vexilo::test::dumpModel(model, QStringLiteral("ComparePicturePairModel without reference"));
    domain::ReferenceYuvSource reference;
    reference.width = a.empty() ? 0 : a.front().width;
    reference.height = a.empty() ? 0 : a.front().height;
    reference.layout = domain::ReferenceYuvLayout::I420;
    reference.frameOffset = 1;
    reference.matchedFrames = a.size() + 1;
    model.setReferenceYuvSource(reference);
    media::FrameQualityMetrics metrics;
    metrics.y.status = media::QualityMetricStatus::Available;
    metrics.y.psnr = 38.125;
    metrics.all.status = media::QualityMetricStatus::Available;
    metrics.all.psnr = 40.0;
    application::QualityResultStore store;
    model.setQualityResultStore(&store);
    application::QualityPairResult result;
    result.metricsA = metrics;
    result.metricsB = metrics;
    store.store({result});
    return lines + vexilo::test::dumpModel(model, QStringLiteral("ComparePicturePairModel with an 8-bit reference"));
}

template <typename Record>
std::vector<analysis::StableId> firstIds(const std::vector<Record>& records, std::size_t count) {
    std::vector<analysis::StableId> ids;
    for (std::size_t index = 0; index < records.size() && index < count; ++index) {
        ids.push_back(records[index].id);
    }
    return ids;
}

// The identities of one leaf block: its CTU, the leaf CU, and its first PU and TU.
struct LeafBlock {
    analysis::StableId ctu, cu, pu, tu;
};

// The leaf CU with a TU that comes first (a skipped CU has none), else the first leaf CU.
LeafBlock firstLeafBlock(const analysis::StreamAnalysis& document) {
    LeafBlock leaf;
    for (const auto& cu : document.cus) {
        if (cu.split.value_or(false)) {
            continue;
        }
        LeafBlock candidate{cu.parentCtuId, cu.id, {}, {}};
        for (const auto& pu : document.pus) {
            if (pu.parentCuId == cu.id) {
                candidate.pu = pu.id;
                break;
            }
        }
        for (const auto& tu : document.tus) {
            if (tu.parentCuId == cu.id && !tu.split.value_or(false)) {
                candidate.tu = tu.id;
                break;
            }
        }
        if (leaf.cu.isNull()) {
            leaf = candidate;
        }
        if (!candidate.tu.isNull()) {
            return candidate;
        }
    }
    return leaf;
}

// With tiles, the first CTU whose tile-scan address is not its raster-scan address.
std::vector<analysis::StableId> firstTileScannedCtu(const analysis::StreamAnalysis& document) {
    for (const auto& ctu : document.ctus) {
        if (ctu.ctuAddressRs != ctu.ctuAddressTs) {
            return {ctu.id};
        }
    }
    return {};
}

QStringList dumpInspector(const CachedAnalysis& cached, const LeafBlock& leaf) {
    const analysis::StreamAnalysis& document = *cached.picture;
    InspectorModel model;
    QStringList lines;
    model.setAnalysis(cached.picture);
    lines += vexilo::test::dumpModel(model, QStringLiteral("InspectorModel setAnalysis"));
    model.explainPicture(cached.pictureId);
    lines += vexilo::test::dumpModel(model, QStringLiteral("InspectorModel explainPicture"));
    std::vector<std::pair<QString, std::vector<analysis::StableId>>> objects{
        {QStringLiteral("NAL unit"), firstIds(document.nalUnits, kExplainedPerCollection)},
        {QStringLiteral("slice"), firstIds(document.slices, kExplainedPerCollection)},
        {QStringLiteral("CTU"), firstIds(document.ctus, 1)},
        {QStringLiteral("CTU whose tile scan differs from its raster scan"), firstTileScannedCtu(document)},
        {QStringLiteral("root CU"), firstIds(document.cus, 1)},
        {QStringLiteral("leaf CU"), {leaf.cu}},
        {QStringLiteral("PU"), {leaf.pu}},
        {QStringLiteral("TU"), {leaf.tu}},
        {QStringLiteral("motion vector"), firstIds(document.motionVectors, 1)},
    };
    for (const auto& [kind, ids] : objects) {
        for (const analysis::StableId& id : ids) {
            model.explainObject(id);
            lines += vexilo::test::dumpModel(model, QStringLiteral("InspectorModel explainObject %1").arg(kind));
        }
    }
    // Parameter sets and SEI messages live in the stream document.
    auto stream = std::make_shared<const analysis::StreamAnalysis>(cached.stream);
    model.setAnalysis(stream);
    for (const auto& [kind, ids] :
         {std::pair{QStringLiteral("stream NAL unit"), firstIds(stream->nalUnits, kExplainedPerCollection)},
          std::pair{QStringLiteral("parameter set"), firstIds(stream->parameterSets, kExplainedPerCollection)},
          std::pair{QStringLiteral("SEI message"), firstIds(stream->seiMessages, kExplainedPerCollection)}}) {
        for (const analysis::StableId& id : ids) {
            model.explainObject(id);
            lines += vexilo::test::dumpModel(model, QStringLiteral("InspectorModel explainObject %1").arg(kind));
        }
    }
    model.setAnalysis(cached.picture);
    const QString pictureText = QString::number(cached.pictureId);
    model.showBlockInfo(QStringLiteral("Locked HEVC block"), pictureText, QStringLiteral("1"),
                        QStringLiteral("x=0 y=0"), leaf.ctu, leaf.cu, leaf.pu, leaf.tu);
    lines += vexilo::test::dumpModel(model, QStringLiteral("InspectorModel showBlockInfo"));
    model.showBlockInfoUnavailable(QStringLiteral("Hover fallback cell"), pictureText, QStringLiteral("1"),
                                   QStringLiteral("x=0 y=0"), QStringLiteral("x=0 y=0 w=64 h=64"));
    lines += vexilo::test::dumpModel(model, QStringLiteral("InspectorModel showBlockInfoUnavailable"));
    return lines;
}

QStringList dumpBlockInfo(const CachedAnalysis& cached, const LeafBlock& leaf) {
    BlockInfoModel model;
    model.setAnalysis(cached.picture);
    QStringList lines;
    model.showMessage(QStringLiteral("Picture analysis"), QStringLiteral("loaded"), QStringLiteral("ready"));
    lines += vexilo::test::dumpModel(model, QStringLiteral("BlockInfoModel showMessage"));
    const QString pictureText = QString::number(cached.pictureId);
    model.showBlockInfo(QStringLiteral("Hover HEVC block"), pictureText, QStringLiteral("1"), QStringLiteral("x=0 y=0"),
                        leaf.ctu, leaf.cu, leaf.pu, leaf.tu);
    lines += vexilo::test::dumpModel(model, QStringLiteral("BlockInfoModel showBlockInfo"));
    model.showBlockInfoUnavailable(QStringLiteral("Locked fallback cell"), pictureText, QStringLiteral("1"),
                                   QStringLiteral("x=0 y=0"), QStringLiteral("x=0 y=0 w=64 h=64"));
    lines += vexilo::test::dumpModel(model, QStringLiteral("BlockInfoModel showBlockInfoUnavailable"));
    return lines;
}

QStringList dumpAllModels(const CachedAnalysis& cached) {
    domain::PictureInfoBatch refined;
    QStringList lines = dumpPictureTable(cached, refined);
    lines += dumpComparePairs(cached.stream);
    PictureStatisticsModel statistics;
    statistics.rebuildStatistics(*cached.picture, cached.pictureId);
    lines += vexilo::test::dumpModel(statistics, QStringLiteral("PictureStatisticsModel"));
    const LeafBlock leaf = firstLeafBlock(*cached.picture);
    lines += dumpInspector(cached, leaf);
    lines += dumpBlockInfo(cached, leaf);
    return lines;
}

QString goldenPath(const QString& name) {
    return QStringLiteral(VEXILO_MODELS_GOLDEN_DIR "/%1.txt").arg(name);
}

}  // namespace

class GoldenDumpTest : public QObject {
    Q_OBJECT

private slots:
    void modelsOverWorkerDocuments_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("name");
        QTest::newRow("b-pyramid") << QStringLiteral(VEXILO_TEST_MEDIA_DIR "/models_bpyramid_420_8bit.hevc")
                                   << QStringLiteral("bpyramid_420_8bit");
        QTest::newRow("4:2:2 10-bit") << QStringLiteral(VEXILO_TEST_MEDIA_DIR "/models_422_10bit.hevc")
                                      << QStringLiteral("422_10bit");
        QTest::newRow("HM tiles") << QStringLiteral(VEXILO_REFERENCE_STREAMS_DIR
                                                    "/hm/s05_ldb_tiles_nonuniform_no_lf_across.bit")
                                  << QStringLiteral("hm_s05_tiles");
    }

    void modelsOverWorkerDocuments() {
        QFETCH(QString, input);
        QFETCH(QString, name);
        QVERIFY2(QFile::exists(input), qPrintable(input));
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const auto analyzed =
            vexilo::test::analyzeWithWorker(input.toStdString(), scratch.path().toStdString(), "bounded_structure");
        if (const auto* error = std::get_if<std::string>(&analyzed)) {
            QFAIL(error->c_str());
        }
        CachedAnalysis cached;
        QVERIFY(choosePicture(std::get<vexilo::test::AnalyzedStream>(analyzed), cached));
        const QStringList lines = dumpAllModels(cached);

        QFile golden(goldenPath(name));
        if (qEnvironmentVariableIntValue("VEXILO_UPDATE_GOLDEN") == 1) {
            QVERIFY(golden.open(QIODevice::WriteOnly | QIODevice::Truncate));
            golden.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
            return;
        }
        QVERIFY2(golden.open(QIODevice::ReadOnly), qPrintable(golden.fileName()));
        const QStringList expected =
            QString::fromUtf8(golden.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (qsizetype line = 0; line < std::min(lines.size(), expected.size()); ++line) {
            QCOMPARE(lines[line], expected[line]);
        }
        QCOMPARE(lines.size(), expected.size());
    }
};

VEXILO_QT_TEST(GoldenDumpTest)
#include "GoldenDumpTest.moc"
