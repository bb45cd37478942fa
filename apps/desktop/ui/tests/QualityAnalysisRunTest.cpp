#include "QualityAnalysisRun.h"

#include "vexilo/media/PathText.h"
#include "vexilo/media/ReferenceYuv.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <semaphore>

using namespace vexilo;
using application::QualityAnalysisInput;
using application::QualityCancelFlag;
using application::QualityPairCallback;
using application::QualityPairRequest;
using application::QualityPairResult;

namespace {

constexpr int kSide = 16;
constexpr int kFrames = 3;

// A run body the test steps through: it reports one result per request, and after the first
// it waits for the test to let it go on, so that cancels and stops land mid-run.
struct SteppedBody {
    std::shared_ptr<std::binary_semaphore> firstPosted = std::make_shared<std::binary_semaphore>(0);
    std::shared_ptr<std::binary_semaphore> goOn = std::make_shared<std::binary_semaphore>(0);

    QualityAnalysisRun::Body body() const {
        return [posted = firstPosted, release = goOn](const QualityAnalysisInput& input, const QualityCancelFlag& cancel,
                                                      QualityPairCallback onResult) {
            bool first = true;
            for (const QualityPairRequest& request : input.requests) {
                if (cancel && cancel->load()) {
                    return;
                }
                QualityPairResult result;
                result.row = request.row;
                result.frameIndex = request.frameIndex;
                onResult(std::move(result));
                if (first) {
                    first = false;
                    posted->release();
                    release->acquire();
                }
            }
        };
    }
};

QualityAnalysisInput inputOfRows(int rows) {
    QualityAnalysisInput input;
    for (int row = 0; row < rows; ++row) {
        QualityPairRequest request;
        request.row = row;
        request.frameIndex = row;
        input.requests.push_back(request);
    }
    return input;
}

}  // namespace

class QualityAnalysisRunTest : public QObject {
    Q_OBJECT

private slots:
    void measuresRealPairsAndFinishes() {
        // Three flat 16x16 I420 frames; the encoded frames are the reference frames, the
        // middle one with a few samples changed.
        QTemporaryDir directory;
        const QString filePath = directory.filePath(QStringLiteral("reference.yuv"));
        const qsizetype frameBytes = kSide * kSide * 3 / 2;
        {
            QFile file(filePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (int frame = 0; frame < kFrames; ++frame) {
                file.write(QByteArray(frameBytes, static_cast<char>(60 + 40 * frame)));
            }
        }
        domain::ReferenceYuvSource reference;
        reference.path = media::pathFromQString(filePath);
        reference.width = kSide;
        reference.height = kSide;
        reference.layout = domain::ReferenceYuvLayout::I420;
        const auto validation = media::validateReferenceYuvMetadata(reference);
        QVERIFY2(validation.valid, validation.message.c_str());
        reference.frameSizeBytes = validation.frameSizeBytes;
        reference.physicalFrames = validation.physicalFrameCount;
        reference.matchedFrames = validation.matchedFrameCount;

        QualityAnalysisInput input;
        input.reference = reference;
        std::vector<domain::VideoFrame> encoded;
        for (int frame = 0; frame < kFrames; ++frame) {
            auto read = media::readReferenceYuvFrame(reference, frame);
            QVERIFY2(read.loaded, read.message.c_str());
            domain::VideoFrame picture = *read.frame;
            picture.index = frame;
            if (frame == 1) {
                picture.planes[0].samples[5] = static_cast<std::uint8_t>(picture.planes[0].samples[5] + 9);
                picture.planes[0].samples[77] = static_cast<std::uint8_t>(picture.planes[0].samples[77] - 4);
            }
            encoded.push_back(picture);
            QualityPairRequest request;
            request.row = frame;
            request.frameIndex = frame;
            request.referenceFrameIndex = frame;
            request.pictureIdA = frame;
            request.frameA = std::make_shared<const domain::VideoFrame>(picture);
            input.requests.push_back(request);
        }

        QualityAnalysisRun run;
        QSignalSpy results(&run, &QualityAnalysisRun::resultReady);
        QSignalSpy finished(&run, &QualityAnalysisRun::finished);
        QVERIFY(run.start(input, QStringLiteral("selected pair")));
        QVERIFY(run.isRunning());
        QVERIFY(finished.wait(20000));
        QVERIFY(!run.isRunning());
        QCOMPARE(finished.at(0).at(0).toString(), QStringLiteral("selected pair"));
        QCOMPARE(finished.at(0).at(1).toBool(), false);
        QCOMPARE(results.count(), kFrames);
        for (int frame = 0; frame < kFrames; ++frame) {
            const auto result = results.at(frame).at(0).value<QualityPairResult>();
            QCOMPARE(result.row, frame);
            QVERIFY(result.metricsA);
            QVERIFY(!result.metricsB);
            QVERIFY(!result.regionsA.empty());
            const media::FrameQualityMetrics expected =
                media::computeFrameQualityMetrics(*media::readReferenceYuvFrame(reference, frame).frame, encoded[static_cast<std::size_t>(frame)]);
            QCOMPARE(result.metricsA->all.status, media::QualityMetricStatus::Available);
            QCOMPARE(result.metricsA->all.psnr, expected.all.psnr);
            QCOMPARE(result.metricsA->all.mse, expected.all.mse);
            QCOMPARE(result.metricsA->y.ssim, expected.y.ssim);
        }
        QVERIFY(std::isinf(*results.at(0).at(0).value<QualityPairResult>().metricsA->all.psnr));
        QVERIFY(std::isfinite(*results.at(1).at(0).value<QualityPairResult>().metricsA->all.psnr));
    }

    void aCancelEndsTheRunAsCanceled() {
        SteppedBody stepped;
        QualityAnalysisRun run(nullptr, stepped.body());
        QSignalSpy results(&run, &QualityAnalysisRun::resultReady);
        QSignalSpy finished(&run, &QualityAnalysisRun::finished);
        QVERIFY(!run.requestCancel());  // nothing to cancel yet

        QVERIFY(run.start(inputOfRows(5), QStringLiteral("visible pairs")));
        QVERIFY(!run.start(inputOfRows(1), QStringLiteral("refused")));
        stepped.firstPosted->acquire();
        QVERIFY(run.requestCancel());
        stepped.goOn->release();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.at(0).at(0).toString(), QStringLiteral("visible pairs"));
        QCOMPARE(finished.at(0).at(1).toBool(), true);
        QCOMPARE(results.count(), 1);  // the body saw the flag before its second request
        QVERIFY(!run.requestCancel());

        // The next run starts clean and finishes normally.
        QVERIFY(run.start(inputOfRows(1), QStringLiteral("selected pair")));
        stepped.firstPosted->acquire();
        stepped.goOn->release();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.at(1).at(1).toBool(), false);
    }

    void aStoppedRunDropsItsQueuedResultsAndItsFinish() {
        SteppedBody stepped;
        QualityAnalysisRun run(nullptr, stepped.body());
        QSignalSpy results(&run, &QualityAnalysisRun::resultReady);
        QSignalSpy finished(&run, &QualityAnalysisRun::finished);
        QVERIFY(run.start(inputOfRows(3), QStringLiteral("Quality Detect")));
        const std::uint64_t runGeneration = run.generation();
        stepped.firstPosted->acquire();  // one result is queued, not yet delivered
        stepped.goOn->release();
        run.stop();
        QVERIFY(!run.isRunning());
        QVERIFY(run.generation() > runGeneration);
        QTest::qWait(50);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(results.count(), 0);
        QCOMPARE(finished.count(), 0);

        run.stop();  // stopping an idle run is harmless
        QVERIFY(!run.isRunning());
    }

    void destroyingTheRunWaitsForItsThread() {
        SteppedBody stepped;
        auto run = std::make_unique<QualityAnalysisRun>(nullptr, stepped.body());
        QVERIFY(run->start(inputOfRows(1000), QStringLiteral("Quality Detect")));
        stepped.firstPosted->acquire();
        stepped.goOn->release();
        run.reset();  // cancels, waits; queued results die with the object
        QTest::qWait(20);
    }
};

VEXILO_QT_TEST(QualityAnalysisRunTest)
#include "QualityAnalysisRunTest.moc"
