#include "QualityTexts.h"

#include <QStringList>

#include <array>
#include <cmath>
#include <utility>

namespace vexilo {

namespace {

using media::QualityMetricStatus;

constexpr std::array<std::pair<QualityMetricStatus, const char*>, 7> kStatusTexts{{
    {QualityMetricStatus::Available, "available"},
    {QualityMetricStatus::BackendUnavailable, "Backend unavailable"},
    {QualityMetricStatus::NoReference, "no reference"},
    {QualityMetricStatus::MissingReferenceFrame, "missing reference frame"},
    {QualityMetricStatus::MissingEncodedFrame, "missing encoded frame"},
    {QualityMetricStatus::FormatMismatch, "format mismatch"},
    {QualityMetricStatus::UnsupportedLayout, "unsupported layout"},
}};
constexpr const char* kComputeErrorText = "compute error";

// Two PSNR values closer than this are a tie.
constexpr double kWinnerTieTolerance = 0.005;

QString numberText(const std::optional<double>& value, int decimals) {
    if (!value) {
        return QStringLiteral("N/A");
    }
    if (std::isinf(*value)) {
        return QStringLiteral("inf");
    }
    return QString::number(*value, 'f', decimals);
}

// ": <status>" plus " - <message>" when there is a message.
QString failureText(const QString& prefix, QualityMetricStatus status, const std::string& message) {
    QString text = QStringLiteral("%1: %2").arg(prefix, qualityStatusText(status));
    if (!message.empty()) {
        text += QStringLiteral(" - %1").arg(QString::fromStdString(message));
    }
    return text;
}

std::optional<double> comparablePsnr(const std::optional<media::FrameQualityMetrics>& metrics) {
    if (!metrics || metrics->all.status != QualityMetricStatus::Available) {
        return std::nullopt;
    }
    return metrics->all.psnr;
}

}  // namespace

QString qualityStatusText(QualityMetricStatus status) {
    for (const auto& [known, text] : kStatusTexts) {
        if (known == status) {
            return QString::fromLatin1(text);
        }
    }
    return QString::fromLatin1(kComputeErrorText);
}

QString planeQualityText(const QString& planeLabel, const media::PlaneQualityMetrics& plane) {
    if (plane.status != QualityMetricStatus::Available) {
        return failureText(planeLabel, plane.status, plane.message);
    }
    return QStringLiteral("%1: PSNR=%2 dB  SSIM=%3  MSE=%4  samples=%5")
        .arg(planeLabel, numberText(plane.psnr, 2), numberText(plane.ssim, 4), numberText(plane.mse, 6),
             QString::number(plane.sampleCount));
}

QString vmafQualityText(const media::VmafQualityMetrics& vmaf) {
    if (vmaf.status != QualityMetricStatus::Available) {
        return failureText(QStringLiteral("VMAF"), vmaf.status, vmaf.message);
    }
    QStringList pieces{QStringLiteral("VMAF=%1").arg(numberText(vmaf.score, 3))};
    if (!vmaf.modelVersion.empty()) {
        pieces << QStringLiteral("model=%1").arg(QString::fromStdString(vmaf.modelVersion));
    }
    if (!vmaf.backendVersion.empty()) {
        pieces << QStringLiteral("lib=%1").arg(QString::fromStdString(vmaf.backendVersion));
    }
    QStringList features;
    for (const media::VmafFeatureScore& feature : vmaf.features) {
        if (feature.score) {
            features << QStringLiteral("%1=%2").arg(QString::fromStdString(feature.name), numberText(feature.score, 4));
        }
    }
    if (!features.isEmpty()) {
        pieces << QStringLiteral("features: %1").arg(features.join(QStringLiteral("  ")));
    }
    return pieces.join(QStringLiteral("  "));
}

QString sideQualityText(const QString& sideLabel, bool hasPicture,
                        const std::optional<media::FrameQualityMetrics>& metrics) {
    if (!hasPicture) {
        return QStringLiteral("%1: missing picture").arg(sideLabel);
    }
    if (!metrics) {
        return QStringLiteral("%1: pending / not computed").arg(sideLabel);
    }
    return QStringLiteral("%1 vs Ref\n  %2\n  %3\n  %4\n  %5\n  %6")
        .arg(sideLabel, planeQualityText(QStringLiteral("Y"), metrics->y),
             planeQualityText(QStringLiteral("U"), metrics->u), planeQualityText(QStringLiteral("V"), metrics->v),
             planeQualityText(QStringLiteral("All"), metrics->all), vmafQualityText(metrics->vmaf));
}

QString winnerSummaryText(const std::optional<media::FrameQualityMetrics>& metricsA,
                          const std::optional<media::FrameQualityMetrics>& metricsB) {
    const std::optional<double> psnrA = comparablePsnr(metricsA);
    const std::optional<double> psnrB = comparablePsnr(metricsB);
    if (!psnrA && !psnrB) {
        return QStringLiteral("Winner: N/A");
    }
    if (!psnrA) {
        return QStringLiteral("Winner: B only");
    }
    if (!psnrB) {
        return QStringLiteral("Winner: A only");
    }
    if (std::isinf(*psnrA) && std::isinf(*psnrB)) {
        return QStringLiteral("Winner: Tie");
    }
    const double difference = *psnrA - *psnrB;
    if (std::abs(difference) <= kWinnerTieTolerance) {
        return QStringLiteral("Winner: Tie");
    }
    if (difference > 0) {
        return QStringLiteral("Winner: A better by %1 dB").arg(QString::number(difference, 'f', 2));
    }
    return QStringLiteral("Winner: B better by %1 dB").arg(QString::number(-difference, 'f', 2));
}

}  // namespace vexilo
