#include "vexilo/application/ApplicationMetaTypes.h"
#include "vexilo/application/QualityAnalysisService.h"
#include "vexilo/media/ReferenceYuv.h"
#include "vexilo/media/VmafBackend.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <memory>
#include <semaphore>
#include <stdexcept>

namespace vexilo::application {
namespace {

using media::QualityMetricStatus;

constexpr int kClipFrames = 10;
constexpr int kWaitMs = 60000;

std::filesystem::path mediaPath(const char* name) {
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name;
}

domain::ReferenceYuvSource referenceSource() {
    domain::ReferenceYuvSource source;
    source.path = mediaPath("quality_reference_176x144.yuv");
    source.width = 176;
    source.height = 144;
    source.layout = domain::ReferenceYuvLayout::I420;
    const media::ReferenceYuvValidationResult validation = media::validateReferenceYuvMetadata(source);
    EXPECT_TRUE(validation.valid) << validation.message;
    source.frameSizeBytes = validation.frameSizeBytes;
    source.physicalFrames = validation.physicalFrameCount;
    source.matchedFrames = validation.matchedFrameCount;
    return source;
}

// Quality Detect over both generated clips, every frame a pair, as the window asks for it.
QualityAnalysisInput fullStreamInput(int pairs = kClipFrames) {
    QualityAnalysisInput input;
    input.reference = referenceSource();
    input.mode = QualityFrameSourceMode::FullStreamDecode;
    input.streamAPath = mediaPath("quality_high.hevc");
    input.streamBPath = mediaPath("quality_low.hevc");
    for (int frame = 0; frame < pairs; ++frame) {
        QualityPairRequest request;
        request.row = frame;
        request.frameIndex = frame;
        request.referenceFrameIndex = frame;
        request.pictureIdA = 100 + frame;
        request.pictureIdB = 200 + frame;
        input.requests.push_back(request);
    }
    return input;
}

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

// A run body the test steps through: it reports one result per request, and after the first
// it waits for the test to let it go on, so that cancels and stops land mid-run.
struct SteppedBody {
    std::shared_ptr<std::binary_semaphore> firstPosted = std::make_shared<std::binary_semaphore>(0);
    std::shared_ptr<std::binary_semaphore> goOn = std::make_shared<std::binary_semaphore>(0);

    QualityAnalysisService::Body body() const {
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

// What the service said during one run, in order.
struct RunRecorder {
    explicit RunRecorder(QualityAnalysisService& watched) : service(watched) {
        QObject::connect(&service, &QualityAnalysisService::resultsReady, [this](const QList<qint64>& frames) {
            batches.push_back(frames);
            progress.push_back(this->service.reportedPairCount());
        });
    }

    [[nodiscard]] QList<qint64> reportedInOrder() const {
        QList<qint64> frames;
        for (const QList<qint64>& batch : batches) {
            frames += batch;
        }
        return frames;
    }

    QualityAnalysisService& service;
    QSignalSpy finished{&service, &QualityAnalysisService::finished};
    QSignalSpy failed{&service, &QualityAnalysisService::runFailed};
    std::vector<QList<qint64>> batches;
    std::vector<std::size_t> progress;
};

class QualityAnalysisServiceTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        registerApplicationMetaTypes();
        ASSERT_TRUE(media::configureVmafBackend(media::VmafBackendSettings{VEXILO_VMAF_STAND_IN_PATH, ""}));
    }
};

// Both streams decode side by side on real decoders: pairs come in frame order, each batch
// moves the "n of N" on, and the store ends with every pair measured on both sides, VMAF
// included once the sequences are scored.
TEST_F(QualityAnalysisServiceTest, QualityDetectReportsPairsInOrderWithProgressIntoTheStore) {
    QualityAnalysisService service;
    RunRecorder recorder(service);
    ASSERT_TRUE(service.start(fullStreamInput(), QStringLiteral("Quality Detect")));
    EXPECT_TRUE(service.isRunning());
    EXPECT_EQ(service.requestedPairCount(), static_cast<std::size_t>(kClipFrames));
    EXPECT_FALSE(service.start(inputOfRows(1), QStringLiteral("refused while running")));
    ASSERT_TRUE(recorder.finished.wait(kWaitMs));
    EXPECT_FALSE(service.isRunning());
    EXPECT_EQ(recorder.finished.at(0).at(0).toString(), QStringLiteral("Quality Detect"));
    EXPECT_FALSE(recorder.finished.at(0).at(1).toBool());
    EXPECT_EQ(recorder.failed.count(), 0);

    // Each pair first in ascending order, then once more with its VMAF.
    const QList<qint64> reported = recorder.reportedInOrder();
    ASSERT_EQ(reported.size(), 2 * kClipFrames);
    for (int frame = 0; frame < kClipFrames; ++frame) {
        EXPECT_EQ(reported.at(frame), frame);
        EXPECT_EQ(reported.at(kClipFrames + frame), frame);
    }
    ASSERT_FALSE(recorder.progress.empty());
    EXPECT_TRUE(std::is_sorted(recorder.progress.begin(), recorder.progress.end()));
    EXPECT_EQ(recorder.progress.back(), static_cast<std::size_t>(kClipFrames));
    EXPECT_EQ(service.reportedPairCount(), static_cast<std::size_t>(kClipFrames));

    const QualityResultStore& store = service.resultStore();
    ASSERT_EQ(store.size(), static_cast<std::size_t>(kClipFrames));
    for (const auto& [frameIndex, result] : store.results()) {
        EXPECT_EQ(result.row, frameIndex);
        for (const auto* side : {&result.metricsA, &result.metricsB}) {
            ASSERT_TRUE(*side) << "frame " << frameIndex;
            EXPECT_EQ((*side)->all.status, QualityMetricStatus::Available) << (*side)->all.message;
            EXPECT_EQ((*side)->vmaf.status, QualityMetricStatus::Available) << (*side)->vmaf.message;
        }
        EXPECT_FALSE(result.regionsA.empty());
        EXPECT_FALSE(result.regionsB.empty());
    }
    // The higher-quality encode is nearer the reference.
    EXPECT_GT(*store.find(5)->metricsA->all.psnr, *store.find(5)->metricsB->all.psnr);
}

// A stream that cannot be opened fails its side of every pair with the decoder's own text in
// the metrics record (the pair's error record); the other side is measured and the run finishes normally.
TEST_F(QualityAnalysisServiceTest, AnUnopenableStreamIsRecordedInEveryPairItOwes) {
    QualityAnalysisService service;
    RunRecorder recorder(service);
    QualityAnalysisInput input = fullStreamInput(3);
    input.streamBPath = mediaPath("no-such-stream.hevc");
    ASSERT_TRUE(service.start(std::move(input), QStringLiteral("Quality Detect")));
    ASSERT_TRUE(recorder.finished.wait(kWaitMs));
    EXPECT_EQ(recorder.failed.count(), 0);
    ASSERT_EQ(service.resultStore().size(), 3U);
    for (const auto& [frameIndex, result] : service.resultStore().results()) {
        ASSERT_TRUE(result.metricsA && result.metricsB);
        EXPECT_EQ(result.metricsA->all.status, QualityMetricStatus::Available);
        EXPECT_EQ(result.metricsB->all.status, QualityMetricStatus::MissingEncodedFrame);
        EXPECT_FALSE(result.metricsB->all.message.empty());
        EXPECT_EQ(result.metricsB->vmaf.message, result.metricsB->all.message);
        EXPECT_TRUE(result.regionsB.empty());
    }
}

// A run whose body throws ends with one error record, then its finish; the service is free
// for the next run.
TEST_F(QualityAnalysisServiceTest, AThrowingRunEndsWithAnErrorRecord) {
    QualityAnalysisService service(nullptr, [](const QualityAnalysisInput& input, const QualityCancelFlag&,
                                               QualityPairCallback onResult) {
        QualityPairResult first;
        first.frameIndex = input.requests.front().frameIndex;
        onResult(std::move(first));
        throw std::runtime_error("reference file vanished");
    });
    RunRecorder recorder(service);
    ASSERT_TRUE(service.start(inputOfRows(2), QStringLiteral("visible pairs")));
    ASSERT_TRUE(recorder.finished.wait(kWaitMs));
    ASSERT_EQ(recorder.failed.count(), 1);
    const auto error = recorder.failed.at(0).at(0).value<QualityRunError>();
    EXPECT_EQ(error.code, QString::fromLatin1(kQualityRunFailedCode));
    EXPECT_EQ(error.message, QString::fromLatin1(kQualityRunFailedMessage));
    EXPECT_EQ(error.detail, QStringLiteral("reference file vanished"));
    EXPECT_EQ(service.resultStore().size(), 1U) << "what was measured before the fault stays";
    EXPECT_FALSE(service.isRunning());
    EXPECT_TRUE(service.start(inputOfRows(1), QStringLiteral("again")));
    ASSERT_TRUE(recorder.finished.wait(kWaitMs));
}

// A cancel asked for before the run's thread looks at its first picture stops both decoders:
// nothing is reported and the run finishes as canceled.
TEST_F(QualityAnalysisServiceTest, ACancelEndsQualityDetectAsCanceled) {
    QualityAnalysisService service;
    RunRecorder recorder(service);
    EXPECT_FALSE(service.requestCancel()) << "nothing to cancel yet";
    ASSERT_TRUE(service.start(fullStreamInput(), QStringLiteral("Quality Detect")));
    EXPECT_TRUE(service.requestCancel());
    ASSERT_TRUE(recorder.finished.wait(kWaitMs));
    EXPECT_TRUE(recorder.finished.at(0).at(1).toBool());
    EXPECT_TRUE(recorder.batches.empty());
    EXPECT_TRUE(service.resultStore().empty());
    EXPECT_FALSE(service.requestCancel());
}

// Results that arrive while the GUI thread is busy are stored together and announced once.
TEST_F(QualityAnalysisServiceTest, ResultsGatheredWhileTheGuiThreadIsBusyFormOneBatch) {
    auto allPosted = std::make_shared<std::binary_semaphore>(0);
    QualityAnalysisService service(nullptr, [allPosted](const QualityAnalysisInput& input, const QualityCancelFlag&,
                                                        QualityPairCallback onResult) {
        for (const QualityPairRequest& request : input.requests) {
            QualityPairResult result;
            result.frameIndex = request.frameIndex;
            onResult(std::move(result));
        }
        allPosted->release();
    });
    RunRecorder recorder(service);
    QSignalSpy stored(&service.resultStore(), &QualityResultStore::pairsStored);
    ASSERT_TRUE(service.start(inputOfRows(5), QStringLiteral("visible pairs")));
    allPosted->acquire();
    ASSERT_TRUE(recorder.finished.wait(kWaitMs));
    ASSERT_EQ(recorder.batches.size(), 1U);
    EXPECT_EQ(recorder.batches.front(), (QList<qint64>{0, 1, 2, 3, 4}));
    EXPECT_EQ(stored.count(), 1);
}

TEST_F(QualityAnalysisServiceTest, AStoppedRunDropsItsQueuedResultsAndItsFinish) {
    SteppedBody stepped;
    QualityAnalysisService service(nullptr, stepped.body());
    RunRecorder recorder(service);
    ASSERT_TRUE(service.start(inputOfRows(3), QStringLiteral("Quality Detect")));
    const std::uint64_t runGeneration = service.generation();
    stepped.firstPosted->acquire();  // one result is queued, not yet delivered
    stepped.goOn->release();
    service.stop();
    EXPECT_FALSE(service.isRunning());
    EXPECT_GT(service.generation(), runGeneration);
    QTest::qWait(50);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(recorder.batches.empty());
    EXPECT_EQ(recorder.finished.count(), 0);
    EXPECT_TRUE(service.resultStore().empty());

    service.stop();  // stopping an idle service is harmless
    EXPECT_FALSE(service.isRunning());
}

TEST_F(QualityAnalysisServiceTest, DestroyingTheServiceWaitsForItsThread) {
    SteppedBody stepped;
    auto service = std::make_unique<QualityAnalysisService>(nullptr, stepped.body());
    ASSERT_TRUE(service->start(inputOfRows(1000), QStringLiteral("Quality Detect")));
    stepped.firstPosted->acquire();
    stepped.goOn->release();
    service.reset();  // cancels, waits; queued results die with the object
    QTest::qWait(20);
}

TEST_F(QualityAnalysisServiceTest, ClearingTheStoreSaysSoAndAnEmptyRunIsRefused) {
    QualityAnalysisService service;
    QSignalSpy cleared(&service.resultStore(), &QualityResultStore::cleared);
    EXPECT_FALSE(service.start(QualityAnalysisInput{}, QStringLiteral("nothing")));
    service.clearResults();
    EXPECT_EQ(cleared.count(), 1);
}

}  // namespace
}  // namespace vexilo::application
