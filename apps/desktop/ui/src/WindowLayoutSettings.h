#pragma once

#include <QByteArray>

class QSettings;

namespace vexilo {

// The window layout as the settings store keeps it between runs, in the group "MainWindow".
struct WindowLayoutSettings {
    static constexpr int kCompareModeAOnly = 0;
    static constexpr double kDefaultWipeRatio = 0.5;

    QByteArray geometry;
    QByteArray dockState;
    QByteArray frameViewerSplitter;
    QByteArray sideBySideViewerSplitter;
    int compareViewerMode = kCompareModeAOnly;
    double compareWipeRatio = kDefaultWipeRatio;

    // Reads the group; a value of the wrong type or a ratio that is not a finite number reads as
    // its default, since a clamp lets NaN through.
    [[nodiscard]] static WindowLayoutSettings read(QSettings& settings);
    void write(QSettings& settings) const;
    static void remove(QSettings& settings);
};

}  // namespace vexilo
