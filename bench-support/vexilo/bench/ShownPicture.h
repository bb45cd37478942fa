#pragma once

// What a user waits for when selecting a picture: the frame viewer's first paint that shows the
// picture's frame with its analysis drawn over it. Needs a display the viewer paints on (Xvfb).

#include "vexilo/bench/EventLoopWait.h"
#include "vexilo/views/FrameViewer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMetaObject>

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace vexilo::bench {

// When the viewer first painted the selected picture's frame, and when it first painted it with
// its overlays, in seconds on the selection's clock; negative when that did not happen in time.
struct ShownTimes {
    double frame = -1.0;
    double withOverlays = -1.0;
};

// Waits for the viewer's first paint showing the frame of `displayIndex` with the overlays of an
// analysis that `analysisIsThePictures` accepts, or for `timeoutMs` to pass.
inline ShownTimes timeUntilShownWithOverlays(FrameViewer& viewer, std::int64_t displayIndex,
                                            const std::function<bool()>& analysisIsThePictures,
                                            const QElapsedTimer& clock, int timeoutMs)
{
    ShownTimes times;
    const auto seconds = [&clock] { return static_cast<double>(clock.nsecsElapsed()) / 1e9; };
    const auto showsFrame = [&] { return viewer.hasFrame() && viewer.displayIndex() == displayIndex; };
    const auto showsOverlays = [&] { return !viewer.overlays().records().empty() && analysisIsThePictures(); };
    const QMetaObject::Connection painted = QObject::connect(&viewer, &QOpenGLWidget::frameSwapped, [&] {
        if (!showsFrame()) {
            return;
        }
        if (times.frame < 0.0) {
            times.frame = seconds();
        }
        if (times.withOverlays < 0.0 && showsOverlays()) {
            times.withOverlays = seconds();
        }
    });
    // A viewer that already holds both paints nothing new by itself.
    if (showsFrame()) {
        viewer.update();
    }
    runEventLoopUntil([&] { return times.withOverlays >= 0.0; }, timeoutMs);
    QObject::disconnect(painted);
    return times;
}

// Whether the application paints on an X display; says so when it does not.
inline bool paintsOnADisplay(const char* benchmark)
{
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
        return true;
    }
    std::printf("%s needs an X display (xvfb-run) for its frame viewer\n", benchmark);
    return false;
}

struct StepFigures {
    double median = 0.0;
    double worst = 0.0;
};

inline StepFigures figuresOf(std::vector<double> seconds)
{
    if (seconds.empty()) {
        return {};
    }
    std::sort(seconds.begin(), seconds.end());
    return {seconds[seconds.size() / 2], seconds.back()};
}

}  // namespace vexilo::bench
