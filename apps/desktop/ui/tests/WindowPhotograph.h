#pragma once

// A window as the user sees it on the display. QWidget::grab() renders widgets again and
// leaves the OpenGL viewers blank; the display's own pixels include what they drew.

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QTest>
#include <QWidget>

namespace vexilo::test {

inline QImage photographWindow(QWidget& window) {
    QTest::qWait(100);  // let the viewers' last frames reach the display
    QScreen* screen = window.screen();
    const QPixmap photo = screen != nullptr ? screen->grabWindow(window.winId()) : QPixmap();
    return photo.isNull() ? window.grab().toImage() : photo.toImage();
}

// Writes the photograph under the test output folder; true when it was written.
inline bool savePhotograph(QWidget& window, const QString& fileName) {
    QDir().mkpath(QStringLiteral(VEXILO_TEST_OUTPUT_DIR));
    return photographWindow(window).save(QStringLiteral(VEXILO_TEST_OUTPUT_DIR "/") + fileName);
}

}  // namespace vexilo::test
