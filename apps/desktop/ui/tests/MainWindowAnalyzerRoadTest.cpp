// The main window on the analyzer road, as a user drives it: a stream opened through the real
// worker, the automatic structure analysis of the selected picture drawn and locked in the
// viewer at the document's pixels, and "Analyze Stream" run from its action.
#include "FlowsWindow.h"
#include "WindowPhotograph.h"

#include "vexilo/models/DisplayFormat.h"
#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeView>

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

using vexilo::test::rowTexts;
using vexilo::test::Window;

namespace {

constexpr int kAnalysisTimeoutMs = 120000;
constexpr int kDecodeIndexColumn = 1;
constexpr int kPtsColumn = 2;
constexpr int kDtsColumn = 3;
constexpr int kAnalysisColumn = 7;
constexpr int kQuietMs = 1000;
// A loaded machine running sanitized builds side by side can take seconds over one pointer event.
constexpr int kPointerTimeoutMs = 30000;
// The budget holds for one picture at a time: this one is too small for the intra pictures
// of main_420_8bit_gop8 by themselves and large enough for every other picture.
constexpr std::uint64_t kSmallBlockBudgetBytes = 400 * 1024;

// Rows of every depth, a row per line and "|" between cells.
QString treeTexts(const QAbstractItemModel& model, const QModelIndex& parent = {})
{
    QStringList lines;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(parent); ++column) {
            cells << model.index(row, column, parent).data().toString();
        }
        lines << cells.join(QLatin1Char('|'));
        const QString children = treeTexts(model, model.index(row, 0, parent));
        if (!children.isEmpty()) {
            lines << children;
        }
    }
    return lines.join(QLatin1Char('\n'));
}

int rowsWithoutDecodeIndex(const QAbstractItemModel& pictures)
{
    int missing = 0;
    for (int row = 0; row < pictures.rowCount(); ++row) {
        missing += pictures.index(row, kDecodeIndexColumn).data().toString() == QStringLiteral("N/A") ? 1 : 0;
    }
    return missing;
}

// The PTS and DTS of each packet of the first video stream, in read order, as ffprobe prints
// them: "N/A" where the packet has none, which is also what the table shows for an absent value.
struct ProbedPacket {
    QString pts;
    QString dts;
};

std::vector<ProbedPacket> probeVideoPackets(const std::filesystem::path& path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                   QStringLiteral("-show_entries"), QStringLiteral("packet=pts,dts"), QStringLiteral("-of"),
                   QStringLiteral("csv=p=0"), QString::fromStdString(path.string())});
    std::vector<ProbedPacket> packets;
    if (!ffprobe.waitForFinished(60000)) {
        return packets;
    }
    const QStringList lines = QString::fromUtf8(ffprobe.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList fields = line.trimmed().split(QLatin1Char(','));
        if (fields.size() >= 2) {
            packets.push_back({fields[0], fields[1]});
        }
    }
    return packets;
}

// What the window shows of the selected picture's analysis, for a failure's message.
QString analysisShown(const Window& w)
{
    const auto* nal = w.window->findChild<vexilo::PictureSyntaxModel*>(QStringLiteral("nalSyntaxModel"));
    const auto selected = w.controller->selectedPictureId();
    const bool held = nal != nullptr && nal->pictureId().has_value();
    return QStringLiteral("frame %1, selected %2, shown %3 with %4 CUs\n%5\n%6")
        .arg(w.viewer->hasFrame() ? QStringLiteral("shown") : QStringLiteral("missing"),
             selected ? QString::number(*selected) : QStringLiteral("none"),
             held ? QString::number(*nal->pictureId()) : QStringLiteral("none"),
             held ? QString::number(nal->analysis().cus.size()) : QStringLiteral("no"), w.label("inspectorStateLabel"),
             w.log());
}

bool getsBlocksOnDemand(const Window& w, int row)
{
    return w.pictureView->model()->index(row, kAnalysisColumn).data().toString().contains(
        QStringLiteral("blocks analysed on demand"));
}

// The document the window shows for the selected picture, once it holds coding blocks.
const vexilo::analysis::StreamAnalysis* structureOfSelectedPicture(const Window& w)
{
    const auto* nal = w.window->findChild<vexilo::PictureSyntaxModel*>(QStringLiteral("nalSyntaxModel"));
    const auto selected = w.controller->selectedPictureId();
    if (nal == nullptr || !selected || nal->pictureId() != selected || nal->analysis().cus.empty()) {
        return nullptr;
    }
    return &nal->analysis();
}

// The smallest CU under the picture's middle: a leaf, so the viewer's hit names it.
std::optional<vexilo::analysis::CuInfo> cuAtPictureMiddle(const vexilo::analysis::StreamAnalysis& document)
{
    const std::int64_t x = document.width.value_or(0) / 2;
    const std::int64_t y = document.height.value_or(0) / 2;
    std::optional<vexilo::analysis::CuInfo> found;
    for (const vexilo::analysis::CuInfo& cu : document.cus) {
        const auto& b = cu.bounds;
        const bool contains = x >= b.x && x < std::int64_t{b.x} + b.width && y >= b.y && y < std::int64_t{b.y} + b.height;
        if (contains && (!found || b.width * b.height < found->bounds.width * found->bounds.height)) {
            found = cu;
        }
    }
    return found;
}

// The widget point of a luma sample, through the viewer's own placement of the image.
QPointF widgetPointOf(const vexilo::FrameViewer& viewer, QPointF sample)
{
    return viewer.imageTargetRect().topLeft() + sample * viewer.displayScale();
}

bool isOverlayBlue(const QColor& colour) { return colour.blue() > colour.red() + 40 && colour.blue() > 120; }

// How many framebuffer pixels near the CU's left and top edges turned blue when the CU layer
// came on; `inside` is whether the pixel at the CU's middle stayed as it was.
struct OutlineChange {
    int bluePixels = 0;
    bool middleUnchanged = false;
};

OutlineChange outlineChange(const vexilo::FrameViewer& viewer, const QImage& with, const QImage& without,
                            const vexilo::analysis::BlockRect& bounds)
{
    OutlineChange change;
    const QPointF topLeft = widgetPointOf(viewer, QPointF(bounds.x, bounds.y));
    const QPointF bottomRight = topLeft + QPointF(bounds.width, bounds.height) * viewer.displayScale();
    const auto changedToBlue = [&](int x, int y) {
        return with.rect().contains(x, y) && with.pixelColor(x, y) != without.pixelColor(x, y) &&
               isOverlayBlue(with.pixelColor(x, y));
    };
    for (int offset = -2; offset <= 2; ++offset) {
        for (int y = static_cast<int>(topLeft.y()); y < static_cast<int>(bottomRight.y()); ++y) {
            change.bluePixels += changedToBlue(static_cast<int>(topLeft.x()) + offset, y) ? 1 : 0;
        }
        for (int x = static_cast<int>(topLeft.x()); x < static_cast<int>(bottomRight.x()); ++x) {
            change.bluePixels += changedToBlue(x, static_cast<int>(topLeft.y()) + offset) ? 1 : 0;
        }
    }
    const QPoint middle = ((topLeft + bottomRight) / 2).toPoint();
    change.middleUnchanged = with.pixelColor(middle) == without.pixelColor(middle);
    return change;
}

void setChecked(QAction* action, bool checked)
{
    if (action->isChecked() != checked) {
        action->trigger();
    }
}

constexpr std::array kBlockOverlays{"actionCtuOverlay", "actionCuOverlay", "actionPuOverlay", "actionTuOverlay",
                                    "actionMotionVectorOverlay", "actionQpMapOverlay"};

void setEveryBlockOverlay(const Window& w, bool checked)
{
    for (const char* overlay : kBlockOverlays) {
        setChecked(w.action(overlay), checked);
    }
}

// Whether the CU under the picture's middle is outlined at the document's pixels: its edges
// turn blue when the CU layer comes on over the other layers, its middle does not.
bool cuOutlinedAtDocumentPixels(const Window& w, const vexilo::analysis::StreamAnalysis& document)
{
    const std::optional<vexilo::analysis::CuInfo> cu = cuAtPictureMiddle(document);
    if (!cu) {
        return false;
    }
    setChecked(w.action("actionCuOverlay"), false);
    const QImage without = w.viewer->grabFramebuffer();
    setChecked(w.action("actionCuOverlay"), true);
    const QImage with = w.viewer->grabFramebuffer();
    const OutlineChange change = outlineChange(*w.viewer, with, without, cu->bounds);
    return change.bluePixels > 0 && change.middleUnchanged;
}

// One access unit of a stream as tools other than ours see it: ffprobe's packet (one access
// unit each) with its PTS, the bytes of its coded slice and SEI NAL units, the display index of
// the frame ffprobe decodes from it, and, for a reference stream, the POC the reference decoder
// gave it.
struct AccessUnit {
    std::uint64_t bytes = 0;
    std::int64_t decodeIndex = 0;
    std::int64_t displayIndex = -1;
    QString pts;
    std::optional<std::int32_t> poc;
};

// The NAL units that belong to a picture: coded slice segments and SEI messages.
bool isPictureNalUnit(unsigned char firstHeaderByte)
{
    constexpr unsigned kLastVclType = 31;
    constexpr unsigned kPrefixSeiType = 39;
    constexpr unsigned kSuffixSeiType = 40;
    const unsigned type = (firstHeaderByte >> 1U) & 0x3FU;
    return type <= kLastVclType || type == kPrefixSeiType || type == kSuffixSeiType;
}

// Start codes and the zero bytes before them are not part of a NAL unit.
std::uint64_t annexBPictureBytes(QByteArrayView packet)
{
    const QByteArray startCode("\0\0\1", 3);
    std::uint64_t bytes = 0;
    for (qsizetype start = packet.indexOf(startCode); start >= 0;) {
        const qsizetype payload = start + startCode.size();
        const qsizetype next = packet.indexOf(startCode, payload);
        qsizetype end = next < 0 ? packet.size() : next;
        while (end > payload && packet[end - 1] == '\0') {
            --end;
        }
        if (end > payload && isPictureNalUnit(static_cast<unsigned char>(packet[payload]))) {
            bytes += static_cast<std::uint64_t>(end - payload);
        }
        start = next;
    }
    return bytes;
}

// An MP4 sample: NAL units behind four-byte big-endian lengths.
std::uint64_t lengthPrefixedPictureBytes(QByteArrayView packet)
{
    constexpr qsizetype kLengthSize = 4;
    std::uint64_t bytes = 0;
    for (qsizetype at = 0; at + kLengthSize < packet.size();) {
        qsizetype length = 0;
        for (qsizetype k = 0; k < kLengthSize; ++k) {
            length = (length << 8) | static_cast<unsigned char>(packet[at + k]);
        }
        at += kLengthSize;
        if (length > 0 && at + length <= packet.size() && isPictureNalUnit(static_cast<unsigned char>(packet[at]))) {
            bytes += static_cast<std::uint64_t>(length);
        }
        at += length;
    }
    return bytes;
}

QJsonObject referenceManifestEntry(const QString& file)
{
    QFile manifest(QString::fromStdString(vexilo::test::referencePath("MANIFEST.json").string()));
    if (!manifest.open(QIODevice::ReadOnly)) {
        return {};
    }
    for (const QJsonValue& stream : QJsonDocument::fromJson(manifest.readAll()).object().value("streams").toArray()) {
        if (stream.toObject().value("file").toString() == file) {
            return stream.toObject();
        }
    }
    return {};
}

// ffprobe's entries of the video stream, one record per line, each a map from name to text.
std::vector<QHash<QString, QString>> ffprobe(const std::filesystem::path& input, const QString& entries)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QStringLiteral("v:0"), QStringLiteral("-show_entries"), entries, QStringLiteral("-of"),
                 QStringLiteral("compact=p=0"), QString::fromStdString(input.string())});
    probe.waitForFinished(30000);
    std::vector<QHash<QString, QString>> records;
    for (const QString& line : QString::fromLatin1(probe.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        QHash<QString, QString> record;
        for (const QString& field : line.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
            record.insert(field.section(QLatin1Char('='), 0, 0), field.section(QLatin1Char('='), 1));
        }
        if (!record.isEmpty()) {
            records.push_back(std::move(record));
        }
    }
    return records;
}

// The access units of a stream in decode order; the POCs come from the reference set's manifest
// when it lists the stream.
std::vector<AccessUnit> accessUnitsOf(const std::filesystem::path& input, const QJsonObject& reference)
{
    QFile file(QString::fromStdString(input.string()));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray stream = file.readAll();
    QHash<QString, std::int64_t> displayIndexAtPosition;
    for (const auto& frame : ffprobe(input, QStringLiteral("frame=pkt_pos"))) {
        displayIndexAtPosition.insert(frame.value(QStringLiteral("pkt_pos")), displayIndexAtPosition.size());
    }
    const QJsonArray pocs = reference.value("pocDecodeOrder").toArray();
    const bool annexB = stream.startsWith(QByteArray("\0\0\1", 3)) || stream.startsWith(QByteArray("\0\0\0\1", 4));
    std::vector<AccessUnit> units;
    for (const auto& packet : ffprobe(input, QStringLiteral("packet=pos,size,pts"))) {
        AccessUnit unit;
        const QByteArrayView bytes = QByteArrayView(stream).sliced(packet.value(QStringLiteral("pos")).toLongLong(),
                                                                   packet.value(QStringLiteral("size")).toLongLong());
        unit.bytes = annexB ? annexBPictureBytes(bytes) : lengthPrefixedPictureBytes(bytes);
        unit.decodeIndex = static_cast<std::int64_t>(units.size());
        unit.displayIndex = displayIndexAtPosition.value(packet.value(QStringLiteral("pos")), -1);
        unit.pts = packet.value(QStringLiteral("pts"));
        if (unit.decodeIndex < pocs.size()) {
            unit.poc = pocs.at(unit.decodeIndex).toInt();
        }
        units.push_back(unit);
    }
    return units;
}

// Selects the next picture row as a user does, and waits until its frame and blocks are shown.
const vexilo::analysis::StreamAnalysis* stepToNextPicture(Window& w)
{
    const int next = w.currentRow() + 1;
    w.pictureView->setFocus();
    QTest::keyClick(w.pictureView, Qt::Key_Down);
    if (!w.frameShownFor(next) ||
        !QTest::qWaitFor([&] { return structureOfSelectedPicture(w) != nullptr; }, kAnalysisTimeoutMs)) {
        return nullptr;
    }
    return structureOfSelectedPicture(w);
}

}  // namespace

class MainWindowAnalyzerRoadTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir cacheHome_;
    QTemporaryDir scratch_;

    int cacheCount_ = 0;

    // Every test row analyses in a cache of its own, so that no row meets another's results.
    void useFreshCache()
    {
        const QString home = QStringLiteral("%1/%2").arg(cacheHome_.path()).arg(++cacheCount_);
        QVERIFY(QDir().mkpath(home));
        qputenv("XDG_CACHE_HOME", home.toLocal8Bit());
    }

    // The HM streams are ".bit"; the in-process fallback reads elementary streams by extension.
    std::filesystem::path streamPath(const QString& name) const
    {
        if (!name.endsWith(QStringLiteral(".bit"))) {
            return vexilo::test::mediaPath(name.toLatin1().constData());
        }
        const std::filesystem::path copy =
            std::filesystem::path(scratch_.path().toStdString()) / (name.chopped(4) + QStringLiteral(".hevc")).toStdString();
        if (!std::filesystem::exists(copy)) {
            std::filesystem::copy_file(vexilo::test::referencePath(name.toLatin1().constData()), copy);
        }
        return copy;
    }

    static void addStreams()
    {
        QTest::addColumn<QString>("stream");
        QTest::newRow("B pyramid 4:2:0 8-bit") << QStringLiteral("models_bpyramid_420_8bit.hevc");
        QTest::newRow("4:2:2 10-bit") << QStringLiteral("models_422_10bit.hevc");
        QTest::newRow("HM non-uniform tiles") << QStringLiteral("s05_ldb_tiles_nonuniform_no_lf_across.bit");
    }

    static void showWindow(Window& w)
    {
        w.window->resize(1600, 1000);
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    }

    // Opens the stream and waits until the selected picture's structure analysis is shown and
    // no analysis is running or arriving any more: a late payload would end a hover or a lock.
    static const vexilo::analysis::StreamAnalysis* openAndWaitForStructure(Window& w, const std::filesystem::path& path)
    {
        QSignalSpy payloads(w.controller, &vexilo::application::ProjectController::pictureAnalysisLoaded);
        if (!w.open(path) || !w.frameShownFor(0) ||
            !QTest::qWaitFor([&] { return structureOfSelectedPicture(w) != nullptr; }, kAnalysisTimeoutMs)) {
            return nullptr;
        }
        for (qsizetype seen = -1; seen != payloads.count() || w.controller->isAnalysisBusy();) {
            seen = payloads.count();
            QTest::qWait(kQuietMs);
        }
        return structureOfSelectedPicture(w);
    }

private slots:
    void initTestCase()
    {
        // Mesa's software driver keeps a few bytes per painted texture and is unloaded before the
        // leak check runs, which then cannot name it. Kept loaded, its leaks meet their suppression.
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
        QVERIFY(cacheHome_.isValid() && scratch_.isValid());
    }

    void init() { useFreshCache(); }

    void openingNamesThePacketsAndTheStreamAnalysisFillsEveryDecodeIndex_data() { addStreams(); }

    void openingNamesThePacketsAndTheStreamAnalysisFillsEveryDecodeIndex()
    {
        QFETCH(QString, stream);
        Window w;
        const QAbstractItemModel* pictures = w.pictureView->model();
        // Taken as the stream analysis reaches the window, before any picture's own analysis.
        int missingAtStreamAnalysis = -1;
        QObject::connect(w.controller, &vexilo::application::ProjectController::streamAnalysisLoaded, w.window.get(),
                         [&] { missingAtStreamAnalysis = rowsWithoutDecodeIndex(*pictures); });
        QVERIFY(w.open(streamPath(stream)));
        const int count = static_cast<int>(w.controller->pictureCount());
        QVERIFY(count > 1);

        const QRegularExpression finished(
            QStringLiteral("Finished: decoded %1 picture\\(s\\) from (\\d+) packet\\(s\\)").arg(count));
        const QRegularExpressionMatch match = finished.match(w.log());
        QVERIFY2(match.hasMatch(), qPrintable(w.log()));
        // An elementary stream holds one access unit per packet.
        QCOMPARE(match.captured(1).toInt(), count);

        QTRY_VERIFY_WITH_TIMEOUT(missingAtStreamAnalysis >= 0, kAnalysisTimeoutMs);
        QCOMPARE(missingAtStreamAnalysis, 0);
        QCOMPARE(pictures->index(0, kDecodeIndexColumn).data().toString(), QStringLiteral("0"));
    }

    void theTimestampColumnsShowEachPicturesPacket_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::newRow("MP4 B pyramid") << QStringLiteral("bpyramid_420_8bit.mp4");
        QTest::newRow("MOV B pyramid 10-bit") << QStringLiteral("bpyramid_420_10bit.mov");
    }

    // A picture's DTS is that of the packet that carried it, not its presentation time, also
    // after the stream analysis has refined the rows.
    void theTimestampColumnsShowEachPicturesPacket()
    {
        QFETCH(QString, stream);
        const std::filesystem::path path = streamPath(stream);
        const std::vector<ProbedPacket> packets = probeVideoPackets(path);
        QVERIFY(!packets.empty());
        Window w;
        bool streamAnalysisShown = false;
        QObject::connect(w.controller, &vexilo::application::ProjectController::streamAnalysisLoaded, w.window.get(),
                         [&] { streamAnalysisShown = true; });
        QVERIFY(w.open(path));
        QTRY_VERIFY_WITH_TIMEOUT(streamAnalysisShown, kAnalysisTimeoutMs);
        const QAbstractItemModel* pictures = w.pictureView->model();
        QVERIFY(pictures->rowCount() > 1);
        for (int row = 0; row < pictures->rowCount(); ++row) {
            bool numbered = false;
            const auto packet = static_cast<std::size_t>(pictures->index(row, kDecodeIndexColumn).data().toInt(&numbered));
            QVERIFY2(numbered && packet < packets.size(), qPrintable(rowTexts(*pictures)));
            QCOMPARE(pictures->index(row, kPtsColumn).data().toString(), packets[packet].pts);
            QCOMPARE(pictures->index(row, kDtsColumn).data().toString(), packets[packet].dts);
        }
    }

    void theStatusBarTellsHowFarTheBlockPassIs()
    {
        Window w;
        showWindow(w);
        QStringList messages;
        QObject::connect(w.window->statusBar(), &QStatusBar::messageChanged, w.window.get(),
                         [&messages](const QString& message) { messages << message; });
        QVERIFY(w.open(vexilo::test::mediaPath("main_420_8bit_gop8.hevc")));
        const QRegularExpression passText(QStringLiteral("^analysing blocks: (\\d+) of 24 pictures$"));
        const QStringList passMessages = messages.filter(passText);
        QVERIFY2(!passMessages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
        QCOMPARE(passMessages.last(), QStringLiteral("analysing blocks: 24 of 24 pictures"));
        QVERIFY2(messages.lastIndexOf(passMessages.last()) < messages.size() - 1, "the end of the pass replaces it");
    }

    void theSelectedPicturesStructureIsDrawnAndLockedAtTheDocumentsPixels_data() { addStreams(); }

    void theSelectedPicturesStructureIsDrawnAndLockedAtTheDocumentsPixels()
    {
        QFETCH(QString, stream);
        Window w;
        showWindow(w);
        const vexilo::analysis::StreamAnalysis* document = openAndWaitForStructure(w, streamPath(stream));
        QVERIFY2(document != nullptr, qPrintable(analysisShown(w)));
        // The open's one pass kept every picture's blocks: none is analysed again on its own.
        QVERIFY2(!w.log().contains(QStringLiteral("Auto analyzing current picture structure for Block Info")),
                 qPrintable(w.log()));
        const std::optional<vexilo::analysis::CuInfo> cu = cuAtPictureMiddle(*document);
        QVERIFY(cu.has_value());
        const vexilo::analysis::BlockRect bounds = cu->bounds;
        const vexilo::analysis::StableId cuId = cu->id;

        // The CU layer alone, on and off: its outline lies on the CU's edges, not inside it.
        setChecked(w.action("actionCtuOverlay"), false);
        setChecked(w.action("actionCuOverlay"), true);
        const QImage withCus = w.viewer->grabFramebuffer();
        setChecked(w.action("actionCuOverlay"), false);
        const QImage withoutCus = w.viewer->grabFramebuffer();
        setChecked(w.action("actionCuOverlay"), true);
        const OutlineChange change = outlineChange(*w.viewer, withCus, withoutCus, bounds);
        QVERIFY2(change.bluePixels > 0, qPrintable(w.viewer->overlayStatusText()));
        QVERIFY(change.middleUnchanged);

        // Hover, then click, at the CU's middle as the viewer places it.
        const QPoint point =
            widgetPointOf(*w.viewer, QPointF(bounds.x + bounds.width / 2.0, bounds.y + bounds.height / 2.0)).toPoint();
        // The pointer may already rest there from the window's showing; moving it off and back
        // gives the viewer a move of its own.
        const auto hoverAt = [&] {
            QTest::mouseMove(w.viewer, point + QPoint(1, 1));
            QTest::mouseMove(w.viewer, point);
            return w.label("inspectorStateLabel").startsWith(QStringLiteral("Block Info - hover"));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(hoverAt(), qPrintable(w.label("inspectorStateLabel")), kPointerTimeoutMs);
        QTest::mouseClick(w.viewer, Qt::LeftButton, Qt::NoModifier, point);
        QTRY_COMPARE_WITH_TIMEOUT(w.label("inspectorStateLabel"), QStringLiteral("Block Info - locked"),
                                  kPointerTimeoutMs);
        const QString rows = rowTexts(*w.blockInfo);
        const QString cuBounds =
            QStringLiteral("x=%1 y=%2 w=%3 h=%4").arg(bounds.x).arg(bounds.y).arg(bounds.width).arg(bounds.height);
        QVERIFY2(rows.contains(QStringLiteral("CU id|%1").arg(vexilo::display::shortIdText(cuId))), qPrintable(rows));
        QVERIFY2(rows.contains(QStringLiteral("bounds|%1").arg(cuBounds)), qPrintable(rows));
        QVERIFY(rows.contains(QStringLiteral("structure metadata")));
        const QString name = QString::fromStdString(streamPath(stream).stem().string());
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("analyzer-road-block-info-locked-%1.png").arg(name)));
    }

    // A copy the tests may change, away from the shared media.
    std::filesystem::path scratchCopy(const char* name) const
    {
        const std::filesystem::path copy = std::filesystem::path(scratch_.path().toStdString()) / ("copy-" + std::string(name));
        std::filesystem::remove(copy);
        std::filesystem::copy_file(vexilo::test::mediaPath(name), copy);
        return copy;
    }

    void steppingThroughPicturesAfterTheOpenReadsEveryBlockFromTheCache()
    {
        const std::filesystem::path source = scratchCopy("main_420_8bit_gop8.hevc");
        {
            Window w;
            showWindow(w);
            QSignalSpy analyses(w.controller, &vexilo::application::ProjectController::analysisStarted);
            QVERIFY2(openAndWaitForStructure(w, source) != nullptr, qPrintable(analysisShown(w)));
            QCOMPARE(analyses.count(), 1);
            setEveryBlockOverlay(w, true);
            for (int step = 0; step < 10; ++step) {
                const vexilo::analysis::StreamAnalysis* document = stepToNextPicture(w);
                QVERIFY2(document != nullptr, qPrintable(analysisShown(w)));
                QVERIFY2(cuOutlinedAtDocumentPixels(w, *document),
                         qPrintable(QStringLiteral("row %1: %2").arg(w.currentRow()).arg(w.viewer->overlayStatusText())));
            }
            QCOMPARE(analyses.count(), 1);
            QVERIFY(!w.log().contains(QStringLiteral("Auto analyzing current picture structure")));
            QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("analyzer-road-stepped-with-overlays.png")));
        }

        // The same, unchanged file again: nothing is analysed, the blocks are there.
        {
            Window w;
            showWindow(w);
            QSignalSpy analyses(w.controller, &vexilo::application::ProjectController::analysisStarted);
            QVERIFY(w.open(source) && w.frameShownFor(0));
            setEveryBlockOverlay(w, true);
            const vexilo::analysis::StreamAnalysis* document = stepToNextPicture(w);
            QVERIFY2(document != nullptr, qPrintable(analysisShown(w)));
            QVERIFY(cuOutlinedAtDocumentPixels(w, *document));
            QTest::qWait(kQuietMs);
            QCOMPARE(analyses.count(), 0);
        }

        // One byte more: the file is analysed again.
        std::ofstream(source, std::ios::binary | std::ios::app).put('\0');
        {
            Window w;
            QSignalSpy analyses(w.controller, &vexilo::application::ProjectController::analysisStarted);
            QVERIFY(w.open(source));
            QCOMPARE(analyses.count(), 1);
        }
    }

    // Pictures whose blocks the pass could not keep are no damaged pictures: nothing counts or
    // marks them, their rows say that their blocks come on demand, and selecting one of them
    // analyses its blocks, while the others keep theirs from the open.
    void aPictureBeyondTheBlockBudgetIsNoErrorAndGetsItsBlocksOnDemand()
    {
        // Enough for the blocks of every picture of this small stream but its intra pictures.
        qputenv("VEXILO_ANALYZER_TEST_BLOCK_BUDGET_BYTES", QByteArray::number(kSmallBlockBudgetBytes));
        const auto restore = qScopeGuard([] { qunsetenv("VEXILO_ANALYZER_TEST_BLOCK_BUDGET_BYTES"); });
        Window w;
        showWindow(w);
        QSignalSpy analyses(w.controller, &vexilo::application::ProjectController::analysisStarted);
        // The picture shown first is the stream's first intra picture: its blocks come on demand.
        QVERIFY2(openAndWaitForStructure(w, vexilo::test::mediaPath("main_420_8bit_gop8.hevc")) != nullptr,
                 qPrintable(analysisShown(w)));
        QCOMPARE(analyses.count(), 2);
        QVERIFY2(w.log().contains(QStringLiteral("Auto analyzing current picture structure for Block Info")),
                 qPrintable(w.log()));
        QTRY_VERIFY_WITH_TIMEOUT(!w.controller->isAnalysisBusy(), kAnalysisTimeoutMs);

        const int lastRow = w.pictureView->model()->rowCount() - 1;
        const auto firstRowOnDemand = [&w, lastRow]() -> std::optional<int> {
            for (int row = 0; row <= lastRow; ++row) {
                if (getsBlocksOnDemand(w, row)) {
                    return row;
                }
            }
            return std::nullopt;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(firstRowOnDemand().has_value(), qPrintable(rowTexts(*w.pictureView->model())),
                                  kAnalysisTimeoutMs);
        const int onDemandRow = *firstRowOnDemand();
        QVERIFY(!getsBlocksOnDemand(w, 0));
        QVERIFY(!getsBlocksOnDemand(w, lastRow));
        for (int row = 0; row <= lastRow; ++row) {
            QVERIFY2(!w.pictureTable()->isPictureMarked(*w.pictureTable()->pictureIdAt(row)),
                     qPrintable(rowTexts(*w.pictureView->model())));
            QVERIFY(!w.pictureView->model()->index(row, 0).data(Qt::BackgroundRole).isValid());
        }
        const QString tooltip = w.pictureView->model()->index(onDemandRow, 0).data(Qt::ToolTipRole).toString();
        QVERIFY2(tooltip.contains(QStringLiteral("analysed when it is selected")), qPrintable(tooltip));
        QVERIFY2(w.analysisErrorText().isEmpty(), qPrintable(w.analysisErrorText()));
        // The narrow table shows the "Analysis" cells only when scrolled to them.
        w.pictureView->scrollTo(w.pictureView->model()->index(onDemandRow, kAnalysisColumn));
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("analyzer-road-blocks-on-demand.png")));

        // The last picture kept its blocks from the open.
        w.pictureView->setCurrentIndex(w.pictureView->model()->index(lastRow, 0));
        QVERIFY(w.frameShownFor(lastRow));
        QTRY_VERIFY2_WITH_TIMEOUT(structureOfSelectedPicture(w) != nullptr, qPrintable(analysisShown(w)),
                                  kAnalysisTimeoutMs);
        QTest::qWait(kQuietMs);
        QCOMPARE(analyses.count(), 2);

        w.pictureView->setCurrentIndex(w.pictureView->model()->index(onDemandRow, 0));
        QVERIFY(w.frameShownFor(onDemandRow));
        QTRY_VERIFY2_WITH_TIMEOUT(structureOfSelectedPicture(w) != nullptr, qPrintable(analysisShown(w)),
                                  kAnalysisTimeoutMs);
        QCOMPARE(analyses.count(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(!w.controller->isAnalysisBusy(), kAnalysisTimeoutMs);
        QTRY_VERIFY2(!getsBlocksOnDemand(w, onDemandRow), qPrintable(rowTexts(*w.pictureView->model())));
        QVERIFY2(w.analysisErrorText().isEmpty(), qPrintable(w.analysisErrorText()));
        w.pictureView->scrollTo(w.pictureView->model()->index(onDemandRow, kAnalysisColumn));
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("analyzer-road-blocks-analysed-on-demand.png")));
    }

    void theEvidenceTellsWhatTheStreamHolds_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<int>("ctuSize");
        // The reference set's manifest gives the CTU size; x265 codes 64 unless told otherwise.
        QTest::newRow("HM random access, raw") << QStringLiteral("s01_ra_gop8_cra_rasl_vui.bit") << 64;
        QTest::newRow("x265 B pyramid, MP4") << QStringLiteral("bpyramid_420_8bit.mp4") << 64;
    }

    // What the AI is told of a stream the worker analysed: each picture's byte size is that of
    // its own NAL units, each picture line carries the decode index, PTS and POC of that picture
    // and the DTS the table shows, blocks are counted over the pictures whose blocks are known,
    // and without a B stream there is no compare pair.
    void theEvidenceTellsWhatTheStreamHolds()
    {
        QFETCH(QString, stream);
        QFETCH(int, ctuSize);
        const std::filesystem::path input = streamPath(stream);
        const std::vector<AccessUnit> units = accessUnitsOf(input, referenceManifestEntry(stream));
        QVERIFY(units.size() > 8);
        const auto probed = ffprobe(input, QStringLiteral("stream=width,height,nb_frames"));
        QCOMPARE(probed.size(), std::size_t{1});

        Window w;
        showWindow(w);
        QVERIFY2(openAndWaitForStructure(w, input) != nullptr, qPrintable(analysisShown(w)));
        const QString evidence = w.aiPanel->evidenceText();
        // Kept beside the screenshots for a person to read.
        QFile kept(QStringLiteral(VEXILO_TEST_OUTPUT_DIR "/analyzer-road-evidence-%1.txt").arg(input.stem().c_str()));
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write(evidence.toUtf8()) > 0);
        kept.close();

        // A raw stream has no count; the analyzer road reads none from a container that has one.
        const QString frames = probed.front().value(QStringLiteral("nb_frames"));
        const bool noCount =
            evidence.contains(QStringLiteral("\ncontainer picture count: none read from the container\n"));
        QVERIFY2(noCount || (frames != QStringLiteral("N/A") &&
                             evidence.contains(QStringLiteral("\ncontainer picture count: %1\n").arg(frames))),
                 qPrintable(evidence));

        const QRegularExpression rankLine(QStringLiteral("^- rank=\\d+ bytes=(\\d+) display=(\\d+) id=\\d+ type=\\w+ "
                                                         "decode=(\\S+) pts=(\\S+) dts=(\\S+) poc=(\\S+) "));
        const QAbstractItemModel& table = *w.pictureView->model();
        std::vector<std::uint64_t> rankedBytes;
        for (const QString& line : evidence.split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch rank = rankLine.match(line);
            if (!rank.hasMatch()) {
                continue;
            }
            const auto unit = std::find_if(units.begin(), units.end(), [&](const AccessUnit& candidate) {
                return candidate.displayIndex == rank.captured(2).toLongLong();
            });
            QVERIFY2(unit != units.end(), qPrintable(line));
            QCOMPARE(rank.captured(1).toULongLong(), unit->bytes);
            QCOMPARE(rank.captured(3).toLongLong(), unit->decodeIndex);
            QCOMPARE(rank.captured(4), unit->pts);
            if (unit->poc) {
                QCOMPARE(rank.captured(6).toInt(), *unit->poc);
            }
            const int row = static_cast<int>(unit->displayIndex);
            QCOMPARE(table.index(row, 0).data().toString(), rank.captured(2));
            QCOMPARE(rank.captured(5), table.index(row, 3).data().toString());
            QCOMPARE(rank.captured(6), table.index(row, 4).data().toString());
            rankedBytes.push_back(unit->bytes);
        }
        std::vector<std::uint64_t> largest;
        for (const AccessUnit& unit : units) {
            largest.push_back(unit.bytes);
        }
        std::sort(largest.rbegin(), largest.rend());
        largest.resize(8);
        QCOMPARE(rankedBytes, largest);

        const auto ctusAlong = [ctuSize](const QString& samples) { return (samples.toInt() + ctuSize - 1) / ctuSize; };
        const std::uint64_t ctus = units.size() * static_cast<std::uint64_t>(
                                                      ctusAlong(probed.front().value(QStringLiteral("width"))) *
                                                      ctusAlong(probed.front().value(QStringLiteral("height"))));
        QVERIFY2(evidence.contains(QStringLiteral("\npictures with known blocks: %1 of %1\n").arg(units.size())),
                 qPrintable(evidence));
        QVERIFY2(evidence.contains(QStringLiteral("\nblocks in pictures with known blocks: CTUs=%1 ").arg(ctus)),
                 qPrintable(evidence));
        QVERIFY2(evidence.contains(QStringLiteral("\ndecoded metadata: display=0 id=%1 type=I decode=0 ")
                                       .arg(*w.controller->selectedPictureId())),
                 qPrintable(evidence));
        QVERIFY2(evidence.contains(QStringLiteral("\nsampled compare pairs: unavailable\n")), qPrintable(evidence));
    }

    void analyzeStreamFromItsActionFillsTheSyntaxTabsTreeStatisticsAndInspector_data() { addStreams(); }

    void analyzeStreamFromItsActionFillsTheSyntaxTabsTreeStatisticsAndInspector()
    {
        QFETCH(QString, stream);
        Window w;
        showWindow(w);
        QVERIFY2(openAndWaitForStructure(w, streamPath(stream)) != nullptr, qPrintable(analysisShown(w)));
        const QString name = QString::fromStdString(streamPath(stream).stem().string());
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("analyzer-road-stream-open-%1.png").arg(name)));
        const vexilo::domain::PictureId selected = *w.controller->selectedPictureId();

        QAction* analyze = w.action("actionAnalyzeStream");
        QTRY_VERIFY_WITH_TIMEOUT(analyze->isEnabled() && !w.controller->isAnalysisBusy(), kAnalysisTimeoutMs);
        QSignalSpy finished(w.controller, &vexilo::application::ProjectController::analysisFinished);
        QSignalSpy loaded(w.controller, &vexilo::application::ProjectController::pictureAnalysisLoaded);
        analyze->trigger();
        QVERIFY2(w.label("taskStateLabel").startsWith(QStringLiteral("Analysis started: ")),
                 qPrintable(w.label("taskStateLabel")));
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 1, kAnalysisTimeoutMs);
        QVERIFY(w.log().contains(QStringLiteral("Analysis finished: generation ")));
        const QString ready = QStringLiteral("Picture ID: %1\nAnalysis ready\nNALs: ").arg(selected);
        QTRY_VERIFY2_WITH_TIMEOUT(loaded.count() >= 1 && w.label("inspectorStateLabel").startsWith(ready),
                                  qPrintable(w.label("inspectorStateLabel")), kAnalysisTimeoutMs);

        for (const char* section : {"nalSyntaxModel", "vpsSyntaxModel", "spsSyntaxModel", "ppsSyntaxModel",
                                    "seiSyntaxModel", "pictureSliceSyntaxModel"}) {
            const auto* model = w.window->findChild<vexilo::PictureSyntaxModel*>(QString::fromLatin1(section));
            QVERIFY2(model != nullptr && model->pictureId() == selected && model->rowCount() > 0, section);
        }
        const QString sps =
            treeTexts(*w.window->findChild<vexilo::PictureSyntaxModel*>(QStringLiteral("spsSyntaxModel")));
        QVERIFY2(sps.contains(QStringLiteral("chroma_format_idc")), qPrintable(sps.left(600)));
        const auto* tree = w.window->findChild<QTreeView*>(QStringLiteral("syntaxTreeView"));
        QVERIFY(tree != nullptr && tree->model()->rowCount() > 0);
        const auto* statistics = w.window->findChild<QAbstractItemModel*>(QStringLiteral("streamStatisticsModel"));
        QTRY_VERIFY2(treeTexts(*statistics).contains(QStringLiteral("chroma format|")),
                     qPrintable(treeTexts(*statistics).left(600)));
        QVERIFY(w.inspector->rowCount() > 0);
        QVERIFY(w.aiPanel->evidenceText().contains(
            QStringLiteral("decoded pictures: %1").arg(w.controller->pictureCount())));
        auto* tabs = w.window->findChild<QTabWidget*>(QStringLiteral("pictureSyntaxTabs"));
        QVERIFY(tabs != nullptr);
        tabs->setCurrentIndex(tabs->indexOf(w.window->findChild<QWidget*>(QStringLiteral("spsSyntaxView"))));
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("analyzer-road-syntax-tabs-%1.png").arg(name)));
    }
};

VEXILO_QT_TEST(MainWindowAnalyzerRoadTest)
#include "MainWindowAnalyzerRoadTest.moc"
