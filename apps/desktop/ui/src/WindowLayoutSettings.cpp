#include "WindowLayoutSettings.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include <cmath>

namespace vexilo {
namespace {

const QString kGroup = QStringLiteral("MainWindow");
const QString kGeometryKey = QStringLiteral("geometry");
const QString kDockStateKey = QStringLiteral("dockState");
const QString kFrameViewerSplitterKey = QStringLiteral("frameViewerSplitter");
const QString kSideBySideViewerSplitterKey = QStringLiteral("sideBySideViewerSplitter");
const QString kCompareViewerModeKey = QStringLiteral("compareViewerMode");
const QString kCompareWipeRatioKey = QStringLiteral("compareWipeRatio");

int readInt(const QSettings& settings, const QString& key, int fallback)
{
    bool ok = false;
    const int value = settings.value(key, fallback).toInt(&ok);
    return ok ? value : fallback;
}

double readFiniteDouble(const QSettings& settings, const QString& key, double fallback)
{
    bool ok = false;
    const double value = settings.value(key, fallback).toDouble(&ok);
    return ok && std::isfinite(value) ? value : fallback;
}

}  // namespace

WindowLayoutSettings WindowLayoutSettings::read(QSettings& settings)
{
    WindowLayoutSettings layout;
    settings.beginGroup(kGroup);
    layout.geometry = settings.value(kGeometryKey).toByteArray();
    layout.dockState = settings.value(kDockStateKey).toByteArray();
    layout.frameViewerSplitter = settings.value(kFrameViewerSplitterKey).toByteArray();
    layout.sideBySideViewerSplitter = settings.value(kSideBySideViewerSplitterKey).toByteArray();
    layout.compareViewerMode = readInt(settings, kCompareViewerModeKey, kCompareModeAOnly);
    layout.compareWipeRatio = readFiniteDouble(settings, kCompareWipeRatioKey, kDefaultWipeRatio);
    settings.endGroup();
    return layout;
}

void WindowLayoutSettings::write(QSettings& settings) const
{
    settings.beginGroup(kGroup);
    settings.setValue(kGeometryKey, geometry);
    settings.setValue(kDockStateKey, dockState);
    if (!frameViewerSplitter.isNull()) {
        settings.setValue(kFrameViewerSplitterKey, frameViewerSplitter);
    }
    if (!sideBySideViewerSplitter.isNull()) {
        settings.setValue(kSideBySideViewerSplitterKey, sideBySideViewerSplitter);
    }
    settings.setValue(kCompareViewerModeKey, compareViewerMode);
    settings.setValue(kCompareWipeRatioKey, compareWipeRatio);
    settings.endGroup();
    settings.sync();
}

void WindowLayoutSettings::remove(QSettings& settings)
{
    settings.remove(kGroup);
}

}  // namespace vexilo
