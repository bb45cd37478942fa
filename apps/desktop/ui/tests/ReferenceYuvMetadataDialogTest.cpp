#include "vexilo/ui/ReferenceYuvMetadataDialog.h"

#include "vexilo/media/PathText.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>

using namespace vexilo;

namespace {

struct Geometry {
    int width;
    int height;
    int layout;  // item data of the layout combo
    int frameOffset;
};

void enterGeometry(ReferenceYuvMetadataDialog& dialog, const Geometry& geometry) {
    dialog.findChild<QSpinBox*>(QStringLiteral("referenceYuvWidthSpinBox"))->setValue(geometry.width);
    dialog.findChild<QSpinBox*>(QStringLiteral("referenceYuvHeightSpinBox"))->setValue(geometry.height);
    auto* layout = dialog.findChild<QComboBox*>(QStringLiteral("referenceYuvLayoutComboBox"));
    layout->setCurrentIndex(layout->findData(geometry.layout));
    dialog.findChild<QSpinBox*>(QStringLiteral("referenceYuvFrameOffsetSpinBox"))->setValue(geometry.frameOffset);
}

// Presses OK the way a user does and returns the warning it raised (closing it), or nothing
// when no warning came up.
std::optional<QString> pressOk(ReferenceYuvMetadataDialog& dialog) {
    std::optional<QString> warning;
    QTimer::singleShot(0, &dialog, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->windowTitle() + QStringLiteral(" | ") + box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    buttons->button(QDialogButtonBox::Ok)->click();
    return warning;
}

QString invalid(const char* message) {
    return QStringLiteral("Invalid Reference YUV Metadata | ") + QString::fromUtf8(message);
}

}  // namespace

class ReferenceYuvMetadataDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir directory_;

    std::filesystem::path writeFile(const QString& name, qint64 size) {
        const QString filePath = directory_.filePath(name);
        QFile file(filePath);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(size)) {
            qFatal("cannot write %s", qPrintable(filePath));
        }
        return media::pathFromQString(filePath);
    }

private slots:
    void showsTheControlsWithTheirDefaults() {
        ReferenceYuvMetadataDialog dialog(writeFile(QStringLiteral("defaults.yuv"), 0));
        QCOMPARE(dialog.objectName(), QStringLiteral("referenceYuvMetadataDialog"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Reference YUV Metadata"));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("referenceYuvPathLabel"))->text(),
                 directory_.filePath(QStringLiteral("defaults.yuv")));
        const auto* width = dialog.findChild<QSpinBox*>(QStringLiteral("referenceYuvWidthSpinBox"));
        QCOMPARE(width->value(), 1920);
        QCOMPARE(width->minimum(), 1);
        QCOMPARE(width->maximum(), 32768);
        QCOMPARE(dialog.findChild<QSpinBox*>(QStringLiteral("referenceYuvHeightSpinBox"))->value(), 1080);
        const auto* offset = dialog.findChild<QSpinBox*>(QStringLiteral("referenceYuvFrameOffsetSpinBox"));
        QCOMPARE(offset->value(), 0);
        QCOMPARE(offset->maximum(), 1000000000);

        const auto* layout = dialog.findChild<QComboBox*>(QStringLiteral("referenceYuvLayoutComboBox"));
        QCOMPARE(layout->count(), 7);
        QCOMPARE(layout->currentText(), QStringLiteral("I420 / yuv420p / 8-bit"));
        QCOMPARE(layout->itemText(2), QStringLiteral("P010 / p010le / 10-bit"));
        QCOMPARE(layout->itemData(6).toInt(), 7);
        const auto* range = dialog.findChild<QComboBox*>(QStringLiteral("referenceYuvColorRangeComboBox"));
        QCOMPARE(range->currentText(), QStringLiteral("Unknown"));
        QCOMPARE(range->itemText(2), QStringLiteral("Full / PC range"));

        const domain::ReferenceYuvSource current = dialog.currentSource();
        QCOMPARE(current.layout, domain::ReferenceYuvLayout::I420);
        QCOMPARE(current.colourRange, domain::ColourRange::Unspecified);
        QVERIFY(!current.frameSizeBytes && !current.physicalFrames && !current.matchedFrames);
        QVERIFY(!dialog.acceptedSource());
    }

    void validatesTheEnteredMetadataAgainstTheFile_data() {
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("layout");
        QTest::addColumn<int>("frameOffset");
        QTest::addColumn<QString>("warning");  // empty: accepted
        QTest::addColumn<qulonglong>("frameSize");
        QTest::addColumn<qulonglong>("matchedFrames");

        QTest::newRow("one 1080p I420 frame") << qint64{3110400} << 1920 << 1080 << 1 << 0 << QString() << 3110400ULL << 1ULL;
        QTest::newRow("offset past the only frame")
            << qint64{3110400} << 1920 << 1080 << 1 << 1 << invalid("Reference YUV frame offset skips every frame")
            << 0ULL << 0ULL;
        QTest::newRow("odd 4:2:2 10-bit rounds chroma up") << qint64{12} << 1 << 1 << 5 << 1 << QString() << 6ULL << 1ULL;
        QTest::newRow("4:4:4 whole frame") << qint64{12} << 2 << 2 << 6 << 0 << QString() << 12ULL << 1ULL;
        QTest::newRow("4:4:4 one byte over")
            << qint64{13} << 2 << 2 << 6 << 0
            << invalid("Reference YUV file size is not an exact multiple of frame size") << 0ULL << 0ULL;
        QTest::newRow("4:4:4 one byte short") << qint64{11} << 2 << 2 << 6 << 0
                                               << invalid("Reference YUV file is smaller than one frame") << 0ULL << 0ULL;
        QTest::newRow("empty file") << qint64{0} << 2 << 2 << 1 << 0
                                    << invalid("Reference YUV file is smaller than one frame") << 0ULL << 0ULL;
        QTest::newRow("P010 three frames, two after the offset") << qint64{3 * 12} << 2 << 2 << 3 << 1 << QString()
                                                                  << 12ULL << 2ULL;
    }

    void validatesTheEnteredMetadataAgainstTheFile() {
        QFETCH(qint64, fileSize);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, layout);
        QFETCH(int, frameOffset);
        QFETCH(QString, warning);
        QFETCH(qulonglong, frameSize);
        QFETCH(qulonglong, matchedFrames);

        ReferenceYuvMetadataDialog dialog(writeFile(QStringLiteral("case.yuv"), fileSize));
        dialog.show();
        enterGeometry(dialog, {width, height, layout, frameOffset});
        const std::optional<QString> shown = pressOk(dialog);
        if (!warning.isEmpty()) {
            QCOMPARE(shown.value_or(QString()), warning);
            QVERIFY(dialog.isVisible());
            QVERIFY(!dialog.acceptedSource());
            QCOMPARE(dialog.currentSource().width, width);  // the entered values stay for another try
            return;
        }
        QVERIFY2(!shown, qPrintable(shown.value_or(QString())));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const auto accepted = dialog.acceptedSource();
        QVERIFY(accepted);
        QCOMPARE(accepted->frameSizeBytes, std::optional<std::uint64_t>(frameSize));
        QCOMPARE(accepted->physicalFrames, std::optional<std::uint64_t>(static_cast<std::uint64_t>(fileSize) / frameSize));
        QCOMPARE(accepted->matchedFrames, std::optional<std::uint64_t>(matchedFrames));
        QCOMPARE(accepted->frameOffset, std::int64_t{frameOffset});
    }

    void refusesPathsThatAreNotAFile() {
        const QString missing = directory_.filePath(QStringLiteral("gone/missing.yuv"));
        const std::pair<std::filesystem::path, QString> cases[] = {
            {media::pathFromQString(missing), invalid("Reference YUV file does not exist")},
            {media::pathFromQString(directory_.path()), invalid("Reference YUV path is not a regular file")},
            {std::filesystem::path(), invalid("Reference YUV path is empty")},
        };
        for (const auto& [path, warning] : cases) {
            ReferenceYuvMetadataDialog dialog(path);
            dialog.show();
            QCOMPARE(pressOk(dialog).value_or(QString()), warning);
            QVERIFY(!dialog.acceptedSource());
        }
    }

    void acceptsANonAsciiFileName() {
        const QString name = QStringLiteral("référence-ñ-映像.yuv");
        ReferenceYuvMetadataDialog dialog(writeFile(name, 12));
        dialog.show();
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("referenceYuvPathLabel"))->text(), directory_.filePath(name));
        enterGeometry(dialog, {2, 2, 6, 0});
        const std::optional<QString> shown = pressOk(dialog);
        QVERIFY2(!shown, qPrintable(shown.value_or(QString())));
        QVERIFY(dialog.acceptedSource());
        QCOMPARE(media::pathToQString(dialog.acceptedSource()->path), directory_.filePath(name));
    }

    void keepsTheChosenColourRangeAndCancelAcceptsNothing() {
        ReferenceYuvMetadataDialog dialog(writeFile(QStringLiteral("range.yuv"), 12));
        dialog.show();
        enterGeometry(dialog, {2, 2, 6, 0});
        auto* range = dialog.findChild<QComboBox*>(QStringLiteral("referenceYuvColorRangeComboBox"));
        range->setCurrentIndex(range->findData(2));
        QCOMPARE(dialog.currentSource().colourRange, domain::ColourRange::Full);

        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.acceptedSource());
    }

    // A file name is shown as it is spelled: markup in it is neither drawn nor followed.
    void aPathThatLooksLikeMarkupIsShownLiterally() {
        QVERIFY(QDir(directory_.path()).mkpath(QStringLiteral("<b>x<")));
        const QString name = QStringLiteral("<b>x</b><img src=\"y.png\">.yuv");
        ReferenceYuvMetadataDialog dialog(writeFile(name, 6));
        dialog.show();
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("referenceYuvPathLabel"));
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->text(), directory_.filePath(name));
    }
};

VEXILO_QT_TEST(ReferenceYuvMetadataDialogTest)
#include "ReferenceYuvMetadataDialogTest.moc"
