// The frame viewer over what the real worker writes: picture documents read back from an
// analysis cache, drawn over real frames decoded by FFmpeg.
#include "ViewerTestSupport.h"
#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/views/FrameViewer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

using vexilo::FrameViewer;
using vexilo::analysis::StableId;
using vexilo::analysis::StreamAnalysis;

namespace {

constexpr int kAnalysisTimeoutMs = 300000;

QByteArray requestLine(const char* type, const char* requestId, const QJsonObject& payload = {},
                       const char* taskId = nullptr)
{
    QJsonObject object{{"protocolVersion", 3}, {"type", type}, {"requestId", requestId}, {"payload", payload}};
    if (taskId != nullptr) {
        object.insert(QStringLiteral("taskId"), QString::fromLatin1(taskId));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Runs the real worker over its pipes on one input in one mode; the type of the task's last event.
QString analyzeWithWorker(const std::filesystem::path& input, const QString& cacheRoot, const char* mode,
                          std::optional<qint64> targetDecodePictureId = std::nullopt)
{
    QProcess worker;
    worker.start(QStringLiteral(VEXILO_WORKER_EXECUTABLE),
                 {QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())});
    if (!worker.waitForStarted(10000)) {
        return QStringLiteral("worker did not start");
    }
    QJsonObject payload{{"inputPath", QString::fromStdString(input.string())},
                        {"cacheRoot", cacheRoot},
                        {"analysisMode", QString::fromLatin1(mode)}};
    if (targetDecodePictureId) {
        payload.insert(QStringLiteral("targetDecodePictureId"), *targetDecodePictureId);
    }
    worker.write(requestLine("hello", "h1"));
    worker.write(requestLine("analyze", "a1", payload, "t1"));
    QByteArray pending;
    QString last;
    QDeadlineTimer deadline(kAnalysisTimeoutMs);
    while (!deadline.hasExpired()) {
        worker.waitForReadyRead(100);
        pending += worker.readAllStandardOutput();
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QJsonObject event = QJsonDocument::fromJson(pending.first(end)).object();
            pending.remove(0, end + 1);
            const QString type = event.value(QStringLiteral("type")).toString();
            if (event.value(QStringLiteral("taskId")).toString() == QStringLiteral("t1") &&
                (type == "analysisFinished" || type == "analysisCanceled" || type == "error")) {
                worker.write(requestLine("shutdown", "s1"));
                worker.waitForFinished(5000);
                return type;
            }
        }
    }
    worker.kill();
    worker.waitForFinished(5000);
    return QStringLiteral("timed out");
}

// Every picture document of the cache directory.
std::vector<StreamAnalysis> cachedPictures(const std::filesystem::path& directory)
{
    std::vector<StreamAnalysis> documents;
    const auto manifest = vexilo::analysis::openAnalysisCache(directory);
    if (!std::holds_alternative<vexilo::analysis::CacheManifest>(manifest)) {
        return documents;
    }
    for (const auto& entry : std::get<vexilo::analysis::CacheManifest>(manifest).pictures) {
        auto picture = vexilo::analysis::readCachedPicture(directory, entry);
        if (std::holds_alternative<StreamAnalysis>(picture)) {
            documents.push_back(std::move(std::get<StreamAnalysis>(picture)));
        }
    }
    return documents;
}

std::filesystem::path testMedia(const char* name) { return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name; }

// The frames of a clip in output order, decoded by the desktop's own FFmpeg source.
std::vector<vexilo::domain::VideoFrame> decodeFrames(const std::filesystem::path& input)
{
    std::vector<vexilo::domain::VideoFrame> frames;
    auto source = vexilo::media::FFmpegVideoSource::open(input);
    if (!source.ok()) {
        return frames;
    }
    const auto decoded = source.value().decodeSequentially(
        [&](vexilo::media::FFmpegDecodedPicture picture) { frames.push_back(std::move(picture.frame)); }, {});
    if (!decoded.ok()) {
        frames.clear();
    }
    return frames;
}

const vexilo::analysis::CuInfo* largestLeafCu(const StreamAnalysis& document)
{
    const vexilo::analysis::CuInfo* best = nullptr;
    for (const auto& cu : document.cus) {
        const bool leaf = std::none_of(document.cus.begin(), document.cus.end(), [&](const auto& other) {
            return other.parentCuId == cu.id;
        });
        if (leaf && cu.parentCuId && cu.bounds.unit == 1 &&
            (best == nullptr || cu.bounds.width * cu.bounds.height > best->bounds.width * best->bounds.height)) {
            best = &cu;
        }
    }
    return best;
}

// The picture document with the most vectors of the scarcer list: a B picture predicting
// from both lists.
const StreamAnalysis* mostBiPredictedPicture(const std::vector<StreamAnalysis>& pictures)
{
    const StreamAnalysis* best = nullptr;
    std::size_t bestCount = 0;
    for (const StreamAnalysis& document : pictures) {
        std::size_t perList[3] = {};
        for (const auto& vector : document.motionVectors) {
            ++perList[std::min<std::size_t>(static_cast<std::size_t>(vector.list), 2)];
        }
        const std::size_t count = std::min(perList[1], perList[2]);
        if (count > bestCount && document.pictures.size() == 1 && document.pictures.front().pictureId) {
            best = &document;
            bestCount = count;
        }
    }
    return best;
}

// The CUs of a reference stream as the reference set counts them: every CU of a stream with
// transquant bypass enabled codes cu_transquant_bypass_flag once, and the manifest counts the
// flags set and clear over all pictures. 0 when the manifest does not say.
std::uint64_t codingUnitsOfTheReferenceSet(const QString& file)
{
    QFile manifest(QStringLiteral(VEXILO_REFERENCE_STREAMS_DIR "/hm/MANIFEST.json"));
    if (!manifest.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QJsonArray streams = QJsonDocument::fromJson(manifest.readAll()).object().value("streams").toArray();
    for (const QJsonValue& stream : streams) {
        if (stream.toObject().value("file").toString() != file) {
            continue;
        }
        const QRegularExpression bypassFlags(QStringLiteral("cu_transquant_bypass_flag 1/0: (\\d+)/(\\d+)"));
        const QRegularExpressionMatch flags = bypassFlags.match(stream.toObject().value("parsedSyntax").toString());
        return flags.hasMatch() ? flags.captured(1).toULongLong() + flags.captured(2).toULongLong() : 0;
    }
    return 0;
}

// Grabbed pixels of one colour, within the grab's tolerance for blending.
int countPixels(const QImage& image, const QRect& area, const QColor& colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) <= 2 && std::abs(pixel.green() - colour.green()) <= 2 &&
                std::abs(pixel.blue() - colour.blue()) <= 2) {
                ++count;
            }
        }
    }
    return count;
}

}  // namespace

class FrameViewerCacheTest : public QObject {
    Q_OBJECT

private:
    static void moveMouse(FrameViewer& viewer, QPointF point)
    {
        QMouseEvent move(QEvent::MouseMove, point, viewer.mapToGlobal(point), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&viewer, &move);
    }

    // Shows the viewer with the one picture of a 176x144 document over a flat frame of its id.
    static bool showOverAFlatFrame(FrameViewer& viewer, const StreamAnalysis& document)
    {
        viewer.resize(800, 600);
        viewer.show();
        if (!QTest::qWaitForWindowExposed(&viewer)) {
            return false;
        }
        const auto pictureId = static_cast<std::int64_t>(*document.pictures.front().pictureId);
        viewer.setFrame(vexilo::test::share(vexilo::test::makeFlatYuvFrame(176, 144, 8, 16, 128, 128), pictureId), 0);
        viewer.setAnalysis(std::make_shared<const StreamAnalysis>(document));
        return true;
    }

private slots:
    void initTestCase() { vexilo::test::keepOpenGlDriverLoaded(); }

    void cuOutlinesFromTheWorkersCacheLandOnTheirPixels()
    {
        QTemporaryDir cache;
        QVERIFY(cache.isValid());
        QCOMPARE(analyzeWithWorker(testMedia("main_420_8bit_gop8.hevc"), cache.path(), "bounded_structure"),
                 QStringLiteral("analysisFinished"));
        const std::vector<StreamAnalysis> pictures = cachedPictures(cache.path().toStdString());
        QVERIFY(!pictures.empty());
        const auto document = std::max_element(pictures.begin(), pictures.end(), [](const auto& a, const auto& b) {
            return a.cus.size() < b.cus.size();
        });
        QVERIFY(document->pictures.size() == 1 && document->pictures.front().pictureId.has_value());
        const vexilo::analysis::CuInfo* cu = largestLeafCu(*document);
        QVERIFY(cu != nullptr);
        QVERIFY(cu->bounds.width >= 8);

        FrameViewer viewer;
        QVERIFY(showOverAFlatFrame(viewer, *document));
        viewer.setCtuOverlayEnabled(false);
        viewer.setCuOverlayEnabled(true);
        viewer.setQualityHeatmapOverlayEnabled(false);
        viewer.setViewTransform(FrameViewer::CustomZoom, 3.0 * viewer.devicePixelRatioF(), QPointF());
        const auto& records = viewer.overlays().records();
        QCOMPARE(static_cast<std::size_t>(std::count_if(records.begin(), records.end(),
                                                        [](const auto& record) {
                                                            return record.kind == vexilo::OverlayKind::Cu;
                                                        })),
                 document->cus.size());

        // The test's own mapping of the CU's bounds to the widget.
        const QPointF origin = viewer.imageTargetRect().topLeft();
        const QPointF topLeft = origin + QPointF(cu->bounds.x, cu->bounds.y) * 3.0;
        const QPointF centre = topLeft + QPointF(cu->bounds.width, cu->bounds.height) * 1.5;
        const QImage grabbed = viewer.grabFramebuffer();
        // Two device pixels along the top edge, inside the first dash.
        const QColor edge = grabbed.pixelColor(static_cast<int>(topLeft.x()) + 3, static_cast<int>(topLeft.y()));
        QVERIFY2(edge.blue() > 180 && edge.green() > 120 && edge.red() < 80, qPrintable(vexilo::test::describe(edge)));
        const QColor inside = grabbed.pixelColor(static_cast<int>(centre.x()), static_cast<int>(centre.y()));
        VEXILO_COMPARE_COLOUR(inside, QColor(0, 0, 0));
        vexilo::test::saveScreenshot(grabbed, QStringLiteral("frame-viewer-worker-cache-cu.png"));

        QSignalSpy available(&viewer, &FrameViewer::blockInfoAvailable);
        moveMouse(viewer, centre);
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(5).value<StableId>(), cu->id);
        QCOMPARE(available.at(0).at(4).value<StableId>(), cu->parentCtuId);
    }

    // A picture's coding quadtree splits at every CTU that crosses the picture's edge, and an
    // encoder splits others; the status line counts the CUs the tree ends in, each once, and each
    // has its QP.
    void theStatusLineCountsEveryCodingUnitOnce_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::newRow("every CU lossless") << QStringLiteral("s13_ldb_lossless_all_cus.bit");
        QTest::newRow("lossless and lossy CUs") << QStringLiteral("s14_ra_mixed_lossless_lossy.bit");
    }

    void theStatusLineCountsEveryCodingUnitOnce()
    {
        QFETCH(QString, stream);
        const std::uint64_t expected = codingUnitsOfTheReferenceSet(stream);
        QVERIFY(expected > 0);
        QTemporaryDir cache;
        QTemporaryDir scratch;
        QVERIFY(cache.isValid() && scratch.isValid());
        // The worker reads elementary streams by their extension; the reference streams are ".bit".
        const std::filesystem::path input = std::filesystem::path(scratch.path().toStdString()) / "stream.hevc";
        std::filesystem::copy_file(std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm" / stream.toStdString(),
                                   input);
        QCOMPARE(analyzeWithWorker(input, cache.path(), "bounded_structure"), QStringLiteral("analysisFinished"));
        const std::vector<StreamAnalysis> pictures = cachedPictures(cache.path().toStdString());
        QVERIFY(!pictures.empty());

        FrameViewer viewer;
        viewer.setCuOverlayEnabled(true);
        viewer.setQpMapOverlayEnabled(true);
        const QRegularExpression counts(
            QStringLiteral("^Overlay ready: CTU=\\d+ CU=(\\d+) TU=\\d+ PU=\\d+ QP blocks=(\\d+) "));
        std::uint64_t codingUnits = 0;
        std::uint64_t qpBlocks = 0;
        std::uint64_t knownQp = 0;
        std::uint64_t unknownQp = 0;
        for (const StreamAnalysis& document : pictures) {
            QVERIFY(showOverAFlatFrame(viewer, document));
            const QRegularExpressionMatch status = counts.match(viewer.overlayStatusText());
            QVERIFY2(status.hasMatch(), qPrintable(viewer.overlayStatusText()));
            codingUnits += status.captured(1).toULongLong();
            qpBlocks += status.captured(2).toULongLong();
            knownQp += viewer.overlays().qpKnownCount();
            unknownQp += viewer.overlays().qpUnknownCount();
        }
        QCOMPARE(codingUnits, expected);
        QCOMPARE(qpBlocks, expected);
        QCOMPARE(knownQp, expected);
        QCOMPARE(unknownQp, std::uint64_t{0});
    }

    // The worker knows the reference of every vector of a clean B stream, so the arrows take
    // their list's colour and none is drawn grey as if its reference were missing.
    void motionVectorsOfARealBStreamAreRedForL0AndBlueForL1()
    {
        QTemporaryDir cache;
        QVERIFY(cache.isValid());
        QCOMPARE(analyzeWithWorker(testMedia("models_bpyramid_420_8bit.hevc"), cache.path(), "bounded_structure"),
                 QStringLiteral("analysisFinished"));
        const std::vector<StreamAnalysis> pictures = cachedPictures(cache.path().toStdString());
        const StreamAnalysis* document = mostBiPredictedPicture(pictures);
        QVERIFY(document != nullptr);

        FrameViewer viewer;
        QVERIFY(showOverAFlatFrame(viewer, *document));
        for (auto enable : {&FrameViewer::setCtuOverlayEnabled, &FrameViewer::setCuOverlayEnabled,
                            &FrameViewer::setTuOverlayEnabled, &FrameViewer::setPuOverlayEnabled,
                            &FrameViewer::setQpMapOverlayEnabled, &FrameViewer::setQualityHeatmapOverlayEnabled}) {
            (viewer.*enable)(false);
        }
        viewer.setMotionVectorOverlayEnabled(true);
        viewer.setViewTransform(FrameViewer::CustomZoom, 3.0 * viewer.devicePixelRatioF(), QPointF());
        QCOMPARE(viewer.overlays().motionVectors().size(), document->motionVectors.size());

        const QImage grabbed = viewer.grabFramebuffer();
        vexilo::test::saveScreenshot(grabbed, QStringLiteral("frame-viewer-worker-cache-b-vectors.png"));
        // The picture below the legend box.
        const QRect picture = viewer.imageTargetRect().toAlignedRect().intersected(grabbed.rect());
        const QRect counted = picture.adjusted(0, std::max(0, 80 - picture.top()), 0, 0);
        const QColor black(0, 0, 0);
        const int red = countPixels(grabbed, counted, vexilo::test::blended(QColor(255, 80, 80, 230), black));
        const int blue = countPixels(grabbed, counted, vexilo::test::blended(QColor(80, 160, 255, 230), black));
        const int grey = countPixels(grabbed, counted, vexilo::test::blended(QColor(170, 170, 170, 210), black));
        QVERIFY2(red > 20, qPrintable(QString::number(red)));
        QVERIFY2(blue > 20, qPrintable(QString::number(blue)));
        QCOMPARE(grey, 0);
    }

    void screenshotsOfEveryOverlayOnAFullHdPicture()
    {
        const std::filesystem::path input = testMedia("viewer_1080p_420_8bit.hevc");
        const std::vector<vexilo::domain::VideoFrame> frames = decodeFrames(input);
        QCOMPARE(frames.size(), std::size_t{3});
        // The stream index names the second output picture; a structure run then fills it whole.
        QTemporaryDir cache;
        QCOMPARE(analyzeWithWorker(input, cache.path(), "stream_index"), QStringLiteral("analysisFinished"));
        const auto isSecondOutput = [](const StreamAnalysis& document) {
            return document.pictures.size() == 1 && document.pictures.front().displayIndex == 1 &&
                   document.pictures.front().pictureId.has_value();
        };
        std::vector<StreamAnalysis> pictures = cachedPictures(cache.path().toStdString());
        auto predicted = std::find_if(pictures.begin(), pictures.end(), isSecondOutput);
        QVERIFY(predicted != pictures.end());
        const auto target = static_cast<qint64>(*predicted->pictures.front().pictureId);
        QCOMPARE(analyzeWithWorker(input, cache.path(), "picture_structure", target),
                 QStringLiteral("analysisFinished"));
        pictures = cachedPictures(cache.path().toStdString());
        predicted = std::find_if(pictures.begin(), pictures.end(), isSecondOutput);
        QVERIFY(predicted != pictures.end());
        QVERIFY(!predicted->motionVectors.empty());

        vexilo::domain::VideoFrame shown = frames[1];
        shown.index = static_cast<std::int64_t>(*predicted->pictures.front().pictureId);
        FrameViewer viewer;
        viewer.resize(1600, 900);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        viewer.setFrame(std::make_shared<const vexilo::domain::VideoFrame>(shown), 1);
        viewer.setAnalysis(std::make_shared<const StreamAnalysis>(*predicted));
        viewer.setQualityHeatmap(vexilo::media::computeRegionalQualityMetrics(frames[0], frames[1], 64),
                                 QStringLiteral("A quality"));
        for (auto enable : {&FrameViewer::setCtuOverlayEnabled, &FrameViewer::setCuOverlayEnabled,
                            &FrameViewer::setTuOverlayEnabled, &FrameViewer::setPuOverlayEnabled,
                            &FrameViewer::setQpMapOverlayEnabled, &FrameViewer::setMotionVectorOverlayEnabled,
                            &FrameViewer::setQualityHeatmapOverlayEnabled}) {
            (viewer.*enable)(true);
        }
        QVERIFY2(viewer.overlayStatusText().startsWith(QStringLiteral("Overlay ready: CTU=510 ")),
                 qPrintable(viewer.overlayStatusText()));
        vexilo::test::saveScreenshot(viewer.grabFramebuffer(), QStringLiteral("frame-viewer-1080p-all-overlays.png"));

        viewer.setQualityHeatmapOverlayEnabled(false);
        viewer.setQpMapOverlayEnabled(false);
        vexilo::test::saveScreenshot(viewer.grabFramebuffer(),
                                     QStringLiteral("frame-viewer-1080p-outlines-and-vectors.png"));
        viewer.setViewTransform(FrameViewer::CustomZoom, 4.0, QPointF(1200, 700));
        moveMouse(viewer, QPointF(800, 450));
        vexilo::test::saveScreenshot(viewer.grabFramebuffer(), QStringLiteral("frame-viewer-1080p-zoomed-hover.png"));
    }
};

VEXILO_QT_TEST(FrameViewerCacheTest)
#include "FrameViewerCacheTest.moc"
