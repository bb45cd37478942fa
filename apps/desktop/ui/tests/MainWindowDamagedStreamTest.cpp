// Damaged streams opened through the real worker, as a user meets them: the status bar counts
// the errors the analysis holds, the picture table marks the pictures they concern, and the log
// lists them. A stream cut in the middle and one with a packet FFmpeg rejects must not end in
// a plain "Analysis ready".
#include "FlowsWindow.h"
#include "WindowPhotograph.h"

#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/test/ReferenceStreamManifest.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <dlfcn.h>

#include <filesystem>
#include <optional>
#include <set>

using vexilo::test::Window;

namespace {

constexpr int kAnalysisTimeoutMs = 120000;
constexpr int kAnalysisColumn = 7;
constexpr std::uint32_t kLastSliceNalType = 31;

// Payload start and end of every coded slice NAL unit.
QList<QPair<qsizetype, qsizetype>> sliceNalUnits(const QByteArray& stream)
{
    QList<qsizetype> starts;
    for (qsizetype at = stream.indexOf(QByteArray("\0\0\1", 3)); at >= 0;
         at = stream.indexOf(QByteArray("\0\0\1", 3), at + 3)) {
        starts << at + 3;
    }
    QList<QPair<qsizetype, qsizetype>> units;
    for (qsizetype k = 0; k < starts.size(); ++k) {
        const qsizetype end = k + 1 < starts.size() ? starts[k + 1] - 3 : stream.size();
        if (((static_cast<unsigned char>(stream[starts[k]]) >> 1) & 0x3F) <= kLastSliceNalType) {
            units.append({starts[k], end});
        }
    }
    return units;
}

QByteArray readFile(const std::filesystem::path& path)
{
    QFile file(QString::fromStdString(path.string()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray readMedia(const char* name) { return readFile(vexilo::test::mediaPath(name)); }

bool isMarkedRed(const QColor& colour) { return colour.red() > 230 && colour.green() < 225 && colour.blue() < 225; }

}  // namespace

class MainWindowDamagedStreamTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir cacheHome_;
    QTemporaryDir scratch_;
    int cacheCount_ = 0;

    std::filesystem::path writeScratch(const QString& name, const QByteArray& bytes) const
    {
        const QString path = scratch_.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            return {};
        }
        return path.toStdString();
    }

    static void showWindow(Window& w)
    {
        w.window->resize(1600, 1000);
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    }

    // Clicks the row as a user would; the window then selects its picture and analyses it.
    static void clickRow(Window& w, int row)
    {
        w.pictureView->scrollTo(w.pictureView->model()->index(row, 0));
        const QRect cell = w.pictureView->visualRect(w.pictureView->model()->index(row, 0));
        QTest::mouseClick(w.pictureView->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }

    // The colour the table paints at the right end of a row's "Decode Index" cell, where no
    // text reaches.
    static QColor rowColour(const Window& w, const QImage& table, int row)
    {
        const QRect cell = w.pictureView->visualRect(w.pictureView->model()->index(row, 1));
        return table.pixelColor(cell.right() - 3, cell.center().y());
    }

    // Every picture the analysis cache holds a document for has had it read, and no read is
    // under way.
    static bool everyPictureDocumentIsRead(const Window& w, const std::set<vexilo::domain::PictureId>& read)
    {
        using vexilo::application::PictureAnalysisStatus;
        for (int row = 0; row < w.pictureView->model()->rowCount(); ++row) {
            const vexilo::domain::PictureId id = *w.pictureTable()->pictureIdAt(row);
            const PictureAnalysisStatus status = w.controller->pictureAnalysisStatus(id);
            if (status == PictureAnalysisStatus::Pending ||
                (status == PictureAnalysisStatus::IndexReady && !read.contains(id))) {
                return false;
            }
        }
        return true;
    }

    // Opens the stream and waits until the analysis is over and every picture's own document
    // has been read.
    static void openAndReadEveryPicture(Window& w, const std::filesystem::path& path)
    {
        std::set<vexilo::domain::PictureId> picturesRead;
        bool streamLoaded = false;
        QObject::connect(w.controller, &vexilo::application::ProjectController::streamAnalysisLoaded, w.window.get(),
                         [&] {
                             streamLoaded = true;
                             picturesRead.clear();
                         });
        QObject::connect(w.controller, &vexilo::application::ProjectController::pictureAnalysisLoaded, w.window.get(),
                         [&](const vexilo::application::PictureAnalysisPayload& payload) {
                             picturesRead.insert(payload.pictureId);
                         });
        QVERIFY(w.open(path));
        QTRY_VERIFY2_WITH_TIMEOUT(streamLoaded && !w.controller->isAnalysisBusy() &&
                                      everyPictureDocumentIsRead(w, picturesRead),
                                  qPrintable(w.log()), kAnalysisTimeoutMs);
        QObject::disconnect(w.controller, nullptr, w.window.get(), nullptr);
    }

    static std::optional<int> firstMarkedRow(const Window& w)
    {
        for (int row = 0; row < w.pictureView->model()->rowCount(); ++row) {
            if (w.pictureTable()->isPictureMarked(*w.pictureTable()->pictureIdAt(row))) {
                return row;
            }
        }
        return std::nullopt;
    }

    // The marked rows in red and the others not, with no row selected over them. The table shows
    // only a few rows, so the first marked one is brought to its top: a row cut by the viewport's
    // edge would not be compared.
    static void verifyMarkedRowsArePaintedRed(Window& w, const QString& photograph)
    {
        w.pictureView->clearSelection();
        w.pictureView->setCurrentIndex({});
        const std::optional<int> firstMarked = firstMarkedRow(w);
        QVERIFY(firstMarked.has_value());
        w.pictureView->scrollTo(w.pictureView->model()->index(*firstMarked, 0), QAbstractItemView::PositionAtTop);
        QTest::qWait(50);
        const QImage table = w.pictureView->viewport()->grab().toImage();
        int marked = 0;
        for (int row = 0; row < w.pictureView->model()->rowCount(); ++row) {
            const auto id = w.pictureTable()->pictureIdAt(row);
            const bool isMarked = id && w.pictureTable()->isPictureMarked(*id);
            const QRect cell = w.pictureView->visualRect(w.pictureView->model()->index(row, 1));
            if (!w.pictureView->viewport()->rect().contains(cell)) {
                continue;
            }
            marked += isMarked ? 1 : 0;
            QVERIFY2(isMarkedRed(rowColour(w, table, row)) == isMarked,
                     qPrintable(QStringLiteral("row %1 %2").arg(row).arg(rowColour(w, table, row).name())));
        }
        QVERIFY(marked > 0);
        QVERIFY(vexilo::test::savePhotograph(*w.window, photograph));
    }

private slots:
    void initTestCase()
    {
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
        QVERIFY(cacheHome_.isValid() && scratch_.isValid());
    }

    void init()
    {
        const QString home = QStringLiteral("%1/%2").arg(cacheHome_.path()).arg(++cacheCount_);
        QVERIFY(QDir().mkpath(home));
        qputenv("XDG_CACHE_HOME", home.toLocal8Bit());
    }

    // The last picture of a 1080p stream cut inside its slice: once the user reaches it and its
    // structure is analysed, the window counts the error and marks the row with its CTU counts.
    void aStreamCutInsideItsLastSliceMarksThatPicture()
    {
        QByteArray stream = readMedia("viewer_1080p_420_8bit.hevc");
        const auto units = sliceNalUnits(stream);
        QCOMPARE(units.size(), 3);
        stream.truncate(units.last().first + (units.last().second - units.last().first) * 8 / 10);
        const std::filesystem::path path = writeScratch(QStringLiteral("cut.hevc"), stream);
        QVERIFY(!path.empty());

        Window w;
        showWindow(w);
        QVERIFY(w.open(path));
        QVERIFY(w.frameShownFor(0));
        const int last = w.pictureView->model()->rowCount() - 1;
        QCOMPARE(last, 2);
        const vexilo::domain::PictureId lastId = *w.pictureTable()->pictureIdAt(last);
        // Nothing in the stream's own document says anything is wrong yet.
        QTRY_VERIFY_WITH_TIMEOUT(!w.controller->isAnalysisBusy(), kAnalysisTimeoutMs);

        clickRow(w, last);
        QTRY_VERIFY2_WITH_TIMEOUT(w.pictureTable()->isPictureMarked(lastId), qPrintable(w.log()), kAnalysisTimeoutMs);
        const QString cell = w.pictureView->model()->index(last, kAnalysisColumn).data().toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^[1-9]\\d* error\\(s\\); ")).match(cell).hasMatch(), qPrintable(cell));
        const QString tooltip = w.pictureView->model()->index(last, 0).data(Qt::ToolTipRole).toString();
        // The detail names the picture by the table's Picture ID too, beside the labelled decode index.
        QVERIFY2(QRegularExpression(QStringLiteral("^analyzer\\.picture_incomplete: The picture's slices do not cover "
                                                   "it; some of its CTUs are missing \\(pictureId=%1; "
                                                   "decodeIndex=2; ctus=\\d+; expectedCtus=510\\)$")
                                        .arg(lastId),
                                    QRegularExpression::MultilineOption)
                     .match(tooltip)
                     .hasMatch(),
                 qPrintable(tooltip));
        QTRY_VERIFY2(QRegularExpression(QStringLiteral("^Analysis errors: [1-9]\\d* \\| pictures marked: 1$"))
                         .match(w.analysisErrorText())
                         .hasMatch(),
                     qPrintable(w.analysisErrorText()));
        QVERIFY2(QRegularExpression(QStringLiteral("analyzer\\.picture_incomplete for Picture ID %1: [^\\n]*\\n"
                                                   "pictureId=%1; decodeIndex=2; ")
                                        .arg(lastId))
                     .match(w.log())
                     .hasMatch(),
                 qPrintable(w.log()));
        QVERIFY2(w.label("inspectorStateLabel").contains(QStringLiteral("\nErrors: ")),
                 qPrintable(w.label("inspectorStateLabel")));
        for (int row = 0; row < last; ++row) {
            QVERIFY(!w.pictureTable()->isPictureMarked(*w.pictureTable()->pictureIdAt(row)));
        }
        verifyMarkedRowsArePaintedRed(w, QStringLiteral("damaged-stream-cut-last-picture.png"));
    }

    // A slice header the syntax parser refuses while FFmpeg still decodes its picture: every
    // row gets the decode index the stream gives it, and the row of that picture is marked with
    // the refusal once its own document is read. The clean stream marks no row at all.
    void aPictureWhoseSliceHeaderWasRefusedKeepsItsRowAndIsMarked()
    {
        const QByteArray clean = readFile(vexilo::test::referenceStreamsDir() / "s20_ldb_amp_tmvp_off.bit");
        const auto units = sliceNalUnits(clean);
        QCOMPARE(units.size(), 6);
        QByteArray damaged = clean;
        // A bit FFmpeg reads past but that leaves the header misaligned for the syntax parser.
        damaged[units[1].first + 4] = static_cast<char>(damaged[units[1].first + 4] ^ 0x10);
        const std::filesystem::path cleanPath = writeScratch(QStringLiteral("clean.hevc"), clean);
        const std::filesystem::path damagedPath = writeScratch(QStringLiteral("refused-header.hevc"), damaged);
        QVERIFY(!cleanPath.empty() && !damagedPath.empty());

        {
            Window w;
            showWindow(w);
            openAndReadEveryPicture(w, cleanPath);
            QCOMPARE(w.pictureView->model()->rowCount(), 6);
            QCOMPARE(w.pictureTable()->markedPictureCount(), 0);
            QCOMPARE(w.analysisErrorText(), QString());
        }

        Window w;
        showWindow(w);
        openAndReadEveryPicture(w, damagedPath);
        // FFmpeg puts out all six pictures, in the decode order of the reference decoder.
        QCOMPARE(w.pictureView->model()->rowCount(), 6);
        constexpr int kDecodeIndexColumn = 1;
        for (int row = 0; row < 6; ++row) {
            QCOMPARE(w.pictureView->model()->index(row, kDecodeIndexColumn).data().toString(), QString::number(row));
        }
        constexpr int kRefusedRow = 1;
        const vexilo::domain::PictureId refused = *w.pictureTable()->pictureIdAt(kRefusedRow);
        QVERIFY(w.pictureTable()->isPictureMarked(refused));
        QVERIFY(!w.pictureTable()->isPictureMarked(*w.pictureTable()->pictureIdAt(0)));
        const QString tooltip = w.pictureView->model()->index(kRefusedRow, 0).data(Qt::ToolTipRole).toString();
        QVERIFY2(tooltip.contains(QStringLiteral("analyzer.syntax_structure_rejected: Slice segment header refused: ")),
                 qPrintable(tooltip));
        QVERIFY2(tooltip.contains(QStringLiteral("pictureId=%1; decodeIndex=1").arg(refused)), qPrintable(tooltip));
        QVERIFY2(w.log().contains(QStringLiteral("analyzer.syntax_structure_rejected for Picture ID %1: ").arg(refused)),
                 qPrintable(w.log()));
        verifyMarkedRowsArePaintedRed(w, QStringLiteral("damaged-stream-refused-slice-header.png"));
    }

    // A slice header garbled into nonsense: FFmpeg rejects its packet and the pictures predicted
    // from the lost picture are decoded from one it made up. The stream's document already says
    // so when it arrives: the rejected packet is counted and those pictures are marked. Each of
    // them names the lost picture in its own document, and the status bar counts that once per
    // picture, however often the document is read.
    void aRejectedPacketIsCountedAndThePicturesPredictedFromTheLostOneAreMarked()
    {
        QByteArray stream = readMedia("main_420_8bit_gop8.hevc");
        const auto units = sliceNalUnits(stream);
        QVERIFY(units.size() > 8);
        const auto [begin, end] = units[5];
        for (qsizetype at = begin + 2; at < std::min(end, begin + 24); ++at) {
            stream[at] = '\xFF';
        }
        const std::filesystem::path path = writeScratch(QStringLiteral("garbled.hevc"), stream);
        QVERIFY(!path.empty());

        // Outlive the window, whose controller reports to them until it is gone.
        QString countOnArrival;
        int markedOnArrival = 0;
        std::set<vexilo::domain::PictureId> picturesRead;
        Window w;
        showWindow(w);
        // Connected after the window: its status bar has taken the stream's document in, and no
        // picture's own document has arrived yet. The controller reads every picture's document
        // after the stream's, the selected one first.
        QObject::connect(w.controller, &vexilo::application::ProjectController::streamAnalysisLoaded, w.window.get(),
                         [&] {
                             if (countOnArrival.isEmpty()) {
                                 countOnArrival = w.analysisErrorText();
                                 markedOnArrival = w.pictureTable()->markedPictureCount();
                             }
                             picturesRead.clear();
                         });
        QObject::connect(w.controller, &vexilo::application::ProjectController::pictureAnalysisLoaded, w.window.get(),
                         [&](const vexilo::application::PictureAnalysisPayload& payload) {
                             picturesRead.insert(payload.pictureId);
                         });
        QVERIFY(w.open(path));
        QTRY_VERIFY_WITH_TIMEOUT(!countOnArrival.isEmpty(), kAnalysisTimeoutMs);
        QVERIFY2(w.log().contains(QStringLiteral("decoded 23 picture(s) from 24 packet(s)")), qPrintable(w.log()));
        QVERIFY2(w.log().contains(QStringLiteral("analyzer.packet_rejected: FFmpeg rejected a damaged packet; decoding "
                                                 "went on past it\npacketIndex=5; ")),
                 qPrintable(w.log()));
        // The rejected packet and the slice header the syntax parser refused.
        constexpr int kStreamErrors = 2;
        const int marked = markedOnArrival;
        QVERIFY(marked >= 1);
        QCOMPARE(countOnArrival,
                 QStringLiteral("Analysis errors: %1 | pictures marked: %2").arg(kStreamErrors).arg(marked));

        // The user goes to a marked picture: its own document names the missing reference.
        const std::optional<int> markedRow = firstMarkedRow(w);
        QVERIFY(markedRow.has_value());
        QCOMPARE(w.pictureView->model()->index(*markedRow, kAnalysisColumn).data().toString().left(8),
                 QStringLiteral("failed; "));
        clickRow(w, *markedRow);
        QTRY_VERIFY2_WITH_TIMEOUT(w.pictureView->model()
                                      ->index(*markedRow, 0)
                                      .data(Qt::ToolTipRole)
                                      .toString()
                                      .contains(QStringLiteral("missingReferencePocs=8")),
                                  qPrintable(w.log()), kAnalysisTimeoutMs);
        QVERIFY(w.pictureView->model()
                    ->index(*markedRow, kAnalysisColumn)
                    .data()
                    .toString()
                    .contains(QStringLiteral(" error(s); ")));
        QVERIFY2(w.log().contains(QStringLiteral("analyzer.picture_reference_missing for Picture ID ")),
                 qPrintable(w.log()));

        // The count settles once every picture's own document is read; the clicked one was read
        // twice, by the click and by the controller's pass over all of them.
        QTRY_VERIFY2_WITH_TIMEOUT(!w.controller->isAnalysisBusy() && everyPictureDocumentIsRead(w, picturesRead),
                                  qPrintable(w.log()), kAnalysisTimeoutMs);
        QCOMPARE(w.analysisErrorText(),
                 QStringLiteral("Analysis errors: %1 | pictures marked: %2").arg(kStreamErrors + marked).arg(marked));
        for (int row = 0; row < w.pictureView->model()->rowCount(); ++row) {
            const QString tooltip = w.pictureView->model()->index(row, 0).data(Qt::ToolTipRole).toString();
            const bool isMarked = w.pictureTable()->isPictureMarked(*w.pictureTable()->pictureIdAt(row));
            QVERIFY2(tooltip.count(QStringLiteral("analyzer.picture_reference_missing: ")) == (isMarked ? 1 : 0),
                     qPrintable(QStringLiteral("row %1: %2").arg(row).arg(tooltip)));
        }
        verifyMarkedRowsArePaintedRed(w, QStringLiteral("damaged-stream-rejected-packet.png"));
    }
};

VEXILO_QT_TEST(MainWindowDamagedStreamTest)
#include "MainWindowDamagedStreamTest.moc"
