#include "vexilo/models/PictureTableModel.h"

#include "ModelTestSupport.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QBrush>
#include <QSignalSpy>
#include <QTest>

using namespace vexilo;
using vexilo::test::rowText;

namespace {

domain::PictureInfo picture(domain::PictureId id, std::int64_t displayIndex) {
    domain::PictureInfo info;
    info.id = id;
    info.displayIndex = displayIndex;
    info.decodeIndex = displayIndex;
    info.pictureType = domain::PictureType::P;
    info.width = 1920;
    info.height = 1080;
    info.bitDepth = 8;
    return info;
}

analysis::PictureAnalysisSummary summaryOf(const domain::PictureInfo& info) {
    analysis::PictureAnalysisSummary summary;
    summary.pictureId = static_cast<std::uint64_t>(info.id);
    summary.decodeIndex = info.decodeIndex;
    summary.pictureType = analysis::PictureType::P;
    summary.width = 1920;
    summary.height = 1080;
    summary.bitDepth = 8;
    return summary;
}

}  // namespace

class PictureTableModelTest : public QObject {
    Q_OBJECT

private slots:
    void appendAndShowCells() {
        PictureTableModel model;
        const auto tester = vexilo::test::watch(&model);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        model.appendPictures({});
        QCOMPARE(inserted.count(), 0);
        auto odd = picture(3, 2);
        odd.height = 0;
        odd.pictureType = static_cast<domain::PictureType>(4);
        odd.pts = -5;
        model.appendPictures({picture(1, 0), picture(2, 1)});
        model.appendPictures({odd});
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.at(1).at(1).toInt(), 2);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(rowText(model, 0), QStringLiteral("0 | 0 | N/A | N/A | N/A | P | 1920 x 1080 | N/A"));
        QCOMPARE(rowText(model, 2), QStringLiteral("2 | 2 | -5 | N/A | N/A | N/A | N/A | N/A"));
        QCOMPARE(model.headerData(7, Qt::Horizontal).toString(), QStringLiteral("Analysis"));
        QVERIFY(!model.headerData(8, Qt::Horizontal).isValid());
        QCOMPARE(model.columnCount(model.index(0, 0)), 0);
        QCOMPARE(model.pictureIdAt(1), std::optional<domain::PictureId>(2));
        QVERIFY(!model.pictureIdAt(-1).has_value());
        QVERIFY(!model.pictureIdAt(3).has_value());
    }

    void statusTextsWaitForTheirRow() {
        PictureTableModel model;
        const auto tester = vexilo::test::watch(&model);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setAnalysisStatus(9, "loaded %1 <b>");
        QCOMPARE(changed.count(), 0);
        model.appendPictures({picture(8, 0), picture(9, 1)});
        QCOMPARE(model.data(model.index(1, 7)).toString(), QStringLiteral("loaded %1 <b>"));
        model.setAnalysisStatus(9, "loaded %1 <b>");
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 7));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(1, 7));
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{Qt::DisplayRole});
    }

    void summariesRefineRows() {
        PictureTableModel model;
        const auto tester = vexilo::test::watch(&model);
        const auto first = picture(1, 0);
        model.appendPictures({first});
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.updatePicture(summaryOf(first));
        QCOMPARE(changed.count(), 0);

        auto summary = summaryOf(first);
        summary.poc = 16;
        summary.pictureType = analysis::PictureType::Unknown;
        summary.width.reset();
        model.updatePicture(summary);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(0, 1));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(0, 6));
        QCOMPARE(rowText(model, 0), QStringLiteral("0 | 0 | N/A | N/A | 16 | P | 1920 x 1080 | N/A"));

        summary.bitDepth = 10;
        model.updatePicture(summary);
        QCOMPARE(changed.count(), 2);

        summary.pictureId.reset();
        summary.poc = 99;
        model.updatePicture(summary);
        auto stranger = summaryOf(picture(42, 5));
        model.updatePicture(stranger);
        QCOMPARE(changed.count(), 2);
    }

    void clearForgetsStatusTexts() {
        PictureTableModel model;
        const auto tester = vexilo::test::watch(&model);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setAnalysisStatus(1, "ready");
        model.clear();
        QCOMPARE(resets.count(), 0);
        model.appendPictures({picture(1, 0)});
        QCOMPARE(model.data(model.index(0, 7)).toString(), QStringLiteral("N/A"));
        model.clear();
        QCOMPARE(resets.count(), 1);
        QCOMPARE(model.rowCount(), 0);
        model.appendPictures({picture(1, 0)});
        model.updatePicture(summaryOf(picture(1, 0)));
        QCOMPARE(model.rowCount(), 1);
    }

    // A marked row is tinted in every cell, counts its errors in the "Analysis" cell and lists
    // them in its tooltip; a picture marked before its row arrives is marked when it does.
    void picturesWithErrorsAreMarkedUntilTheMarksAreCleared() {
        PictureTableModel model;
        const auto tester = vexilo::test::watch(&model);
        model.markPictureFailed(5);
        model.appendPictures({picture(4, 0), picture(5, 1), picture(6, 2)});
        model.setAnalysisStatus(6, "ready");
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.markPictureErrors(6, {});
        QCOMPARE(changed.count(), 0);
        model.markPictureErrors(6, {"analyzer.picture_incomplete: CTUs missing", "analyzer.picture_rejected: bad"});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(2, 0));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(2, 7));
        // An empty list does not take a mark away: a later payload may simply not carry them.
        model.markPictureErrors(6, {});
        QCOMPARE(changed.count(), 1);

        QCOMPARE(model.data(model.index(0, 7)).toString(), QStringLiteral("N/A"));
        QCOMPARE(model.data(model.index(1, 7)).toString(), QStringLiteral("failed; N/A"));
        QCOMPARE(model.data(model.index(2, 7)).toString(), QStringLiteral("2 error(s); ready"));
        QVERIFY(!model.data(model.index(0, 3), Qt::BackgroundRole).isValid());
        for (int column = 0; column < model.columnCount(); ++column) {
            QCOMPARE(model.data(model.index(2, column), Qt::BackgroundRole).value<QBrush>().color().red(), 255);
        }
        QCOMPARE(model.data(model.index(2, 0), Qt::ToolTipRole).toString(),
                 QStringLiteral("analyzer.picture_incomplete: CTUs missing\nanalyzer.picture_rejected: bad"));
        QVERIFY(model.data(model.index(1, 4), Qt::ToolTipRole).toString().contains("could not reconstruct"));
        QCOMPARE(model.markedPictureCount(), 2);
        QCOMPARE(model.pictureErrorCount(), 2);
        QVERIFY(model.isPictureMarked(5) && !model.isPictureMarked(4));

        model.clearPictureMarks();
        QCOMPARE(model.markedPictureCount(), 0);
        QCOMPARE(model.data(model.index(2, 7)).toString(), QStringLiteral("ready"));
        QVERIFY(!model.data(model.index(1, 1), Qt::BackgroundRole).isValid());
        model.markPictureFailed(4);
        model.clear();
        QCOMPARE(model.markedPictureCount(), 0);
    }

    // A picture whose blocks come on demand says so in its "Analysis" cell and tooltip, untinted
    // and uncounted, beside any error mark it also has; a payload with its blocks takes it away.
    void picturesWhoseBlocksComeOnDemandAreNeitherTintedNorCounted() {
        PictureTableModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setBlocksOnDemand(5, true);
        model.appendPictures({picture(4, 0), picture(5, 1), picture(6, 2)});
        model.setAnalysisStatus(5, "Analysis ready");
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setBlocksOnDemand(5, true);
        model.setBlocksOnDemand(4, false);
        QCOMPARE(changed.count(), 0);

        QCOMPARE(model.data(model.index(1, 7)).toString(), QStringLiteral("blocks analysed on demand; Analysis ready"));
        QVERIFY(model.data(model.index(1, 2), Qt::ToolTipRole).toString().contains("analysed when it is selected"));
        QVERIFY(!model.data(model.index(1, 2), Qt::BackgroundRole).isValid());
        QVERIFY(!model.data(model.index(0, 2), Qt::ToolTipRole).isValid());
        QVERIFY(model.hasBlocksOnDemand(5) && !model.isPictureMarked(5));
        QCOMPARE(model.markedPictureCount(), 0);
        QCOMPARE(model.pictureErrorCount(), 0);

        model.setBlocksOnDemand(6, true);
        model.markPictureErrors(6, {"analyzer.picture_rejected: bad"});
        QCOMPARE(model.data(model.index(2, 7)).toString(), QStringLiteral("1 error(s); blocks analysed on demand; N/A"));
        const QStringList tip = model.data(model.index(2, 0), Qt::ToolTipRole).toString().split('\n');
        QCOMPARE(tip.size(), 2);
        QCOMPARE(tip.front(), QStringLiteral("analyzer.picture_rejected: bad"));
        QCOMPARE(model.markedPictureCount(), 1);

        changed.clear();
        model.setBlocksOnDemand(5, false);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 0));
        QCOMPARE(model.data(model.index(1, 7)).toString(), QStringLiteral("Analysis ready"));
        model.clearPictureMarks();
        QVERIFY(!model.hasBlocksOnDemand(6));
        QCOMPARE(model.data(model.index(2, 7)).toString(), QStringLiteral("N/A"));
    }
};

VEXILO_QT_TEST(PictureTableModelTest)
#include "PictureTableModelTest.moc"
