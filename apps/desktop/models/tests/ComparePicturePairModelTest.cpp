#include "vexilo/models/ComparePicturePairModel.h"

#include "ModelTestSupport.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace vexilo;
using vexilo::test::columnTexts;
using vexilo::test::rowText;

namespace {

domain::PictureInfoBatch pictures(int count, domain::PictureId firstId, std::int32_t bitDepth = 8) {
    domain::PictureInfoBatch batch;
    for (int index = 0; index < count; ++index) {
        domain::PictureInfo info;
        info.id = firstId + index;
        info.displayIndex = index;
        info.poc = 2 * index;
        info.pictureType = index == 0 ? domain::PictureType::I : domain::PictureType::B;
        info.width = 1920;
        info.height = 1080;
        info.bitDepth = bitDepth;
        batch.push_back(info);
    }
    return batch;
}

// What a quality run reports for one pair, stored as the service stores it.
void storePair(application::QualityResultStore& store, std::int64_t frameIndex,
               const std::optional<media::FrameQualityMetrics>& metricsA,
               const std::optional<media::FrameQualityMetrics>& metricsB) {
    application::QualityPairResult result;
    result.frameIndex = frameIndex;
    result.metricsA = metricsA;
    result.metricsB = metricsB;
    store.store({result});
}

domain::ReferenceYuvSource reference(std::uint64_t frames, std::int64_t offset, domain::ReferenceYuvLayout layout) {
    domain::ReferenceYuvSource source;
    source.width = 1920;
    source.height = 1080;
    source.layout = layout;
    source.frameOffset = offset;
    source.matchedFrames = frames;
    return source;
}

media::FrameQualityMetrics metricsWithPsnr(double psnrY, double psnrAll) {
    media::FrameQualityMetrics metrics;
    metrics.y.status = media::QualityMetricStatus::Available;
    metrics.y.psnr = psnrY;
    metrics.all.status = media::QualityMetricStatus::Available;
    metrics.all.psnr = psnrAll;
    return metrics;
}

}  // namespace

class ComparePicturePairModelTest : public QObject {
    Q_OBJECT

private slots:
    void withoutReferenceEveryMetricSaysNoRef() {
        ComparePicturePairModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setPictures(pictures(10, 100), pictures(5, 200));
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(model.columnCount(), 15);
        QCOMPARE(model.headerData(14, Qt::Horizontal).toString(), QStringLiteral("Winner"));
        QCOMPARE(rowText(model, 0), QStringLiteral("0 | N/A | 0 | 0 | 0 | 0 | I | I | 1920 x 1080 | matched | "
                                                   "No ref | No ref | No ref | No ref | No ref"));
        for (int row = 5; row < 10; ++row) {
            QCOMPARE(model.data(model.index(row, 9)).toString(), QStringLiteral("B missing"));
        }
        QCOMPARE(model.pictureIdAAt(7), std::optional<domain::PictureId>(107));
        QVERIFY(!model.pictureIdBAt(7).has_value());
        QVERIFY(model.pairAt(-1) == nullptr);
        QVERIFY(model.pairAt(10) == nullptr);
        QCOMPARE(model.rowForFrameIndex(9), 9);
        QCOMPARE(model.rowForFrameIndex(10), -1);
    }

    void referenceLongerThanTheStreams() {
        ComparePicturePairModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setPictures(pictures(10, 100), pictures(10, 200));
        model.setReferenceYuvSource(reference(12, 3, domain::ReferenceYuvLayout::I420));
        QCOMPARE(model.rowCount(), 12);
        QCOMPARE(rowText(model, 10), QStringLiteral("10 | 13 | N/A | N/A | N/A | N/A | N/A | N/A | Ref 1920 x 1080 | "
                                                    "unavailable | Missing | Missing | Missing | Missing | N/A"));
        QCOMPARE(model.data(model.index(11, 1)).toString(), QStringLiteral("14"));
        QCOMPARE(model.data(model.index(0, 9)).toString(), QStringLiteral("matched"));
        QCOMPARE(model.data(model.index(0, 10)).toString(), QStringLiteral("N/A"));

        model.setReferenceYuvSource(reference(8, 0, domain::ReferenceYuvLayout::I420));
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(model.data(model.index(9, 9)).toString(), QStringLiteral("reference missing"));
        QCOMPARE(model.data(model.index(9, 10)).toString(), QStringLiteral("Ref missing"));
    }

    void referenceFormatAndSizes() {
        ComparePicturePairModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setPictures(pictures(1, 1), pictures(1, 2));
        model.setReferenceYuvSource(reference(1, 0, domain::ReferenceYuvLayout::I010));
        QCOMPARE(model.data(model.index(0, 9)).toString(), QStringLiteral("reference format mismatch"));
        QCOMPARE(model.data(model.index(0, 8)).toString(), QStringLiteral("1920 x 1080"));

        auto small = pictures(1, 2);
        small.front().width = 1280;
        small.front().height = 720;
        model.setPictures(pictures(1, 1), small);
        QCOMPARE(model.data(model.index(0, 8)).toString(), QStringLiteral("Ref 1920 x 1080 / A 1920 x 1080 / B 1280 x 720"));
        model.setReferenceYuvSource(std::nullopt);
        QCOMPARE(model.data(model.index(0, 8)).toString(), QStringLiteral("A 1920 x 1080 / B 1280 x 720"));
        QCOMPARE(model.data(model.index(0, 9)).toString(), QStringLiteral("size mismatch"));
        model.setPictures(pictures(1, 1), pictures(1, 2, 10));
        QCOMPARE(model.data(model.index(0, 9)).toString(), QStringLiteral("bit-depth mismatch"));
        model.setPictures({}, small);
        QCOMPARE(model.data(model.index(0, 9)).toString(), QStringLiteral("A missing"));
        model.setReferenceYuvSource(reference(1, 0, domain::ReferenceYuvLayout::I420));
        QCOMPARE(model.data(model.index(0, 8)).toString(), QStringLiteral("Ref 1920 x 1080 / Enc 1280 x 720"));
    }

    void metricsTiesAndStatuses() {
        ComparePicturePairModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setPictures(pictures(3, 1), pictures(3, 11));
        model.setReferenceYuvSource(reference(3, 0, domain::ReferenceYuvLayout::I420));
        application::QualityResultStore store;
        model.setQualityResultStore(&store);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        storePair(store, 0, metricsWithPsnr(40.0, 41.004), metricsWithPsnr(39.0, 41.000));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(0, 10));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(0, 14));
        QCOMPARE(rowText(model, 0).section(" | ", 10), QStringLiteral("40.00 | 41.00 | 39.00 | 41.00 | Tie"));
        storePair(store, 0, metricsWithPsnr(40.0, 41.006), metricsWithPsnr(39.0, 41.000));
        QCOMPARE(model.data(model.index(0, 14)).toString(), QStringLiteral("A"));

        const double infinity = std::numeric_limits<double>::infinity();
        storePair(store, 1, metricsWithPsnr(infinity, infinity), metricsWithPsnr(infinity, infinity));
        QCOMPARE(rowText(model, 1).section(" | ", 10), QStringLiteral("inf | inf | inf | inf | Tie"));
        storePair(store, 1, metricsWithPsnr(30, 30), metricsWithPsnr(infinity, infinity));
        QCOMPARE(model.data(model.index(1, 14)).toString(), QStringLiteral("B"));

        auto unavailable = metricsWithPsnr(1, 1);
        unavailable.all.status = media::QualityMetricStatus::FormatMismatch;
        storePair(store, 2, metricsWithPsnr(35, 35), unavailable);
        QCOMPARE(rowText(model, 2).section(" | ", 10), QStringLiteral("35.00 | 35.00 | 1.00 | Format mismatch | A only"));
        storePair(store, 2, std::nullopt, std::nullopt);
        QCOMPARE(rowText(model, 2).section(" | ", 10), QStringLiteral("N/A | N/A | N/A | N/A | N/A"));

        const int changesSoFar = static_cast<int>(changed.count());
        storePair(store, 7, metricsWithPsnr(1, 1), std::nullopt);
        QCOMPARE(changed.count(), changesSoFar);
        QCOMPARE(model.rowCount(), 3);
        // A rebuild keeps reading the store; emptying the store empties every metric cell.
        model.setPictures(pictures(3, 1), pictures(3, 11));
        QCOMPARE(model.data(model.index(0, 14)).toString(), QStringLiteral("A"));
        store.clear();
        QCOMPARE(changed.count(), changesSoFar + 1);
        QCOMPARE(columnTexts(model, 14), QStringList({"N/A", "N/A", "N/A"}));
    }

    // A batch of stored pairs is announced as one span of rows, whatever order it names them
    // in; a model given another store stops following the first one.
    void picturesArrivingOnEitherSideKeepTheRowsInPlace() {
        // Streams that are still opening grow in batches: each batch adds rows or fills the
        // other side's rows without a reset, and ends where one whole build of the lists ends.
        const domain::PictureInfoBatch allA = pictures(12, 100);
        const domain::PictureInfoBatch allB = pictures(9, 200);
        ComparePicturePairModel grown;
        grown.setReferenceYuvSource(reference(10, 0, domain::ReferenceYuvLayout::I420));
        QSignalSpy resets(&grown, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(&grown, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&grown, &QAbstractItemModel::dataChanged);
        const auto firstOf = [](const domain::PictureInfoBatch& all, std::size_t count) {
            return domain::PictureInfoBatch(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count));
        };
        for (const auto& [countA, countB] : {std::pair{4U, 0U}, {12U, 2U}, {12U, 9U}}) {
            QVERIFY(!grown.setPictures(firstOf(allA, countA), firstOf(allB, countB)));
        }
        QCOMPARE(resets.count(), 0);
        QVERIFY(!inserted.isEmpty());
        QVERIFY(!changed.isEmpty());

        ComparePicturePairModel built;
        built.setReferenceYuvSource(reference(10, 0, domain::ReferenceYuvLayout::I420));
        built.setPictures(allA, allB);
        QCOMPARE(grown.rowCount(), built.rowCount());
        for (int row = 0; row < built.rowCount(); ++row) {
            QCOMPARE(rowText(grown, row), rowText(built, row));
        }

        QVERIFY2(grown.setPictures(pictures(3, 500), allB), "a new A stream rebuilds every row");
        QCOMPARE(resets.count(), 1);
        QCOMPARE(grown.rowCount(), 10);
    }

    void aStoredBatchRepaintsOneSpanOfRows() {
        ComparePicturePairModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setPictures(pictures(4, 1), pictures(4, 11));
        model.setReferenceYuvSource(reference(4, 0, domain::ReferenceYuvLayout::I420));
        application::QualityResultStore store;
        model.setQualityResultStore(&store);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        std::vector<application::QualityPairResult> batch(3);
        batch[0].frameIndex = 2;
        batch[1].frameIndex = 1;
        batch[2].frameIndex = 9;  // no row
        batch[0].metricsA = metricsWithPsnr(30, 30);
        store.store(std::move(batch));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 10));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(2, 14));
        QCOMPARE(model.data(model.index(2, 11)).toString(), QStringLiteral("30.00"));
        QCOMPARE(model.qualityResultAt(2), store.find(2));
        QCOMPARE(model.qualityResultAt(0), nullptr);

        application::QualityResultStore other;
        model.setQualityResultStore(&other);
        QCOMPARE(model.data(model.index(2, 11)).toString(), QStringLiteral("N/A"));
        const int changesSoFar = static_cast<int>(changed.count());
        storePair(store, 3, metricsWithPsnr(1, 1), std::nullopt);
        QCOMPARE(changed.count(), changesSoFar);
    }

    void statusTexts_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("backend") << 1 << "Backend unavailable";
        QTest::newRow("no reference") << 2 << "No ref";
        QTest::newRow("reference frame") << 3 << "Ref missing";
        QTest::newRow("encoded frame") << 4 << "Enc missing";
        QTest::newRow("format") << 5 << "Format mismatch";
        QTest::newRow("layout") << 6 << "Unsupported";
        QTest::newRow("compute") << 7 << "Error";
        QTest::newRow("beyond") << 200 << "Error";
    }
    void statusTexts() {
        QFETCH(int, status);
        QFETCH(QString, text);
        ComparePicturePairModel model;
        model.setPictures(pictures(1, 1), pictures(1, 2));
        model.setReferenceYuvSource(reference(1, 0, domain::ReferenceYuvLayout::I420));
        auto metrics = metricsWithPsnr(30, 30);
        metrics.y.status = static_cast<media::QualityMetricStatus>(status);
        application::QualityResultStore store;
        model.setQualityResultStore(&store);
        storePair(store, 0, metrics, metrics);
        QCOMPARE(model.data(model.index(0, 10)).toString(), text);
        QCOMPARE(model.data(model.index(0, 11)).toString(), QStringLiteral("30.00"));
    }
};

VEXILO_QT_TEST(ComparePicturePairModelTest)
#include "ComparePicturePairModelTest.moc"
