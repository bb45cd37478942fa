#include "QualityTexts.h"

#include "vexilo/test/QtTestRegistry.h"

#include <QTest>

#include <limits>

using namespace vexilo;
using media::QualityMetricStatus;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

media::PlaneQualityMetrics availablePlane(std::optional<double> psnr) {
    media::PlaneQualityMetrics plane;
    plane.status = QualityMetricStatus::Available;
    plane.psnr = psnr;
    plane.ssim = 0.987654;
    plane.mse = 1.5;
    plane.sampleCount = 3110400;
    return plane;
}

std::optional<media::FrameQualityMetrics> metricsWithPsnr(std::optional<double> psnr) {
    media::FrameQualityMetrics metrics;
    metrics.all = availablePlane(psnr);
    return metrics;
}

}  // namespace

class QualityTextsTest : public QObject {
    Q_OBJECT

private slots:
    void namesEveryStatus() {
        const std::pair<int, const char*> expected[] = {
            {0, "available"},          {1, "Backend unavailable"}, {2, "no reference"},
            {3, "missing reference frame"}, {4, "missing encoded frame"}, {5, "format mismatch"},
            {6, "unsupported layout"}, {7, "compute error"},        {200, "compute error"},
        };
        for (const auto& [status, text] : expected) {
            QCOMPARE(qualityStatusText(static_cast<QualityMetricStatus>(status)), QString::fromLatin1(text));
        }
    }

    void writesPlanes() {
        QCOMPARE(planeQualityText(QStringLiteral("Y"), availablePlane(38.456)),
                 QStringLiteral("Y: PSNR=38.46 dB  SSIM=0.9877  MSE=1.500000  samples=3110400"));
        media::PlaneQualityMetrics identical = availablePlane(kInfinity);
        identical.mse.reset();
        QCOMPARE(planeQualityText(QStringLiteral("All"), identical),
                 QStringLiteral("All: PSNR=inf dB  SSIM=0.9877  MSE=N/A  samples=3110400"));
        media::PlaneQualityMetrics failed;
        failed.status = QualityMetricStatus::FormatMismatch;
        QCOMPARE(planeQualityText(QStringLiteral("U"), failed), QStringLiteral("U: format mismatch"));
        failed.message = "reference is 4:2:2";
        QCOMPARE(planeQualityText(QStringLiteral("U"), failed), QStringLiteral("U: format mismatch - reference is 4:2:2"));
    }

    void writesVmaf() {
        media::VmafQualityMetrics vmaf;
        vmaf.status = QualityMetricStatus::BackendUnavailable;
        vmaf.message = "libvmaf.so.3 not found";
        QCOMPARE(vmafQualityText(vmaf), QStringLiteral("VMAF: Backend unavailable - libvmaf.so.3 not found"));

        vmaf = {};
        vmaf.status = QualityMetricStatus::Available;
        QCOMPARE(vmafQualityText(vmaf), QStringLiteral("VMAF=N/A"));
        vmaf.score = 93.12345;
        vmaf.modelVersion = "vmaf_v0.6.1";
        vmaf.backendVersion = "3.0.0";
        vmaf.features = {{"adm2", 0.98765, {}}, {"motion2", std::nullopt, "absent"}, {"vif_scale0", kInfinity, {}}};
        QCOMPARE(vmafQualityText(vmaf),
                 QStringLiteral("VMAF=93.123  model=vmaf_v0.6.1  lib=3.0.0  features: adm2=0.9877  vif_scale0=inf"));
    }

    void writesSides() {
        QCOMPARE(sideQualityText(QStringLiteral("B"), false, std::nullopt), QStringLiteral("B: missing picture"));
        QCOMPARE(sideQualityText(QStringLiteral("A"), true, std::nullopt), QStringLiteral("A: pending / not computed"));
        media::FrameQualityMetrics metrics;
        metrics.y = availablePlane(40.0);
        metrics.all = availablePlane(41.0);
        QCOMPARE(sideQualityText(QStringLiteral("A"), true, metrics),
                 QStringLiteral("A vs Ref\n"
                                "  Y: PSNR=40.00 dB  SSIM=0.9877  MSE=1.500000  samples=3110400\n"
                                "  U: compute error\n"
                                "  V: compute error\n"
                                "  All: PSNR=41.00 dB  SSIM=0.9877  MSE=1.500000  samples=3110400\n"
                                "  VMAF: compute error"));
    }

    void choosesTheWinner_data() {
        QTest::addColumn<std::optional<double>>("psnrA");  // nullopt: side without usable metrics
        QTest::addColumn<std::optional<double>>("psnrB");
        QTest::addColumn<QString>("text");
        QTest::newRow("neither") << std::optional<double>() << std::optional<double>() << QStringLiteral("Winner: N/A");
        QTest::newRow("only B") << std::optional<double>() << std::optional<double>(30.0) << QStringLiteral("Winner: B only");
        QTest::newRow("only A") << std::optional<double>(30.0) << std::optional<double>() << QStringLiteral("Winner: A only");
        QTest::newRow("within the tolerance") << std::optional<double>(40.004) << std::optional<double>(40.0)
                                              << QStringLiteral("Winner: Tie");
        QTest::newRow("A by a hundredth") << std::optional<double>(40.01) << std::optional<double>(40.0)
                                          << QStringLiteral("Winner: A better by 0.01 dB");
        QTest::newRow("B by half a dB") << std::optional<double>(39.5) << std::optional<double>(40.0)
                                        << QStringLiteral("Winner: B better by 0.50 dB");
        QTest::newRow("both identical") << std::optional<double>(kInfinity) << std::optional<double>(kInfinity)
                                        << QStringLiteral("Winner: Tie");
    }

    void choosesTheWinner() {
        QFETCH(std::optional<double>, psnrA);
        QFETCH(std::optional<double>, psnrB);
        QFETCH(QString, text);
        const auto side = [](std::optional<double> psnr) {
            return psnr ? metricsWithPsnr(psnr) : std::optional<media::FrameQualityMetrics>();
        };
        QCOMPARE(winnerSummaryText(side(psnrA), side(psnrB)), text);
    }

    void aSideCountsOnlyWithAnAvailableTotalPsnr() {
        auto failed = metricsWithPsnr(45.0);
        failed->all.status = QualityMetricStatus::MissingEncodedFrame;
        QCOMPARE(winnerSummaryText(failed, metricsWithPsnr(30.0)), QStringLiteral("Winner: B only"));
        QCOMPARE(winnerSummaryText(metricsWithPsnr(30.0), metricsWithPsnr(std::nullopt)), QStringLiteral("Winner: A only"));
    }
};

VEXILO_QT_TEST(QualityTextsTest)
#include "QualityTextsTest.moc"
