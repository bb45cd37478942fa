#include "ReferenceYuvTexts.h"

#include "vexilo/media/PathText.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QTest>

using namespace vexilo;

class ReferenceYuvTextsTest : public QObject {
    Q_OBJECT

private slots:
    void namesEveryLayout() {
        const char* const expected[] = {"Unknown", "I420",        "I010",     "P010",       "YUV422P8",
                                        "YUV422P10LE", "YUV444P8", "YUV444P10LE", "Unknown"};
        for (std::uint8_t code = 0; code < std::size(expected); ++code) {
            QCOMPARE(referenceYuvLayoutName(code), expected[code]);
        }
        QCOMPARE(referenceYuvLayoutName(255), "Unknown");
    }

    void describesAnAcceptedReference() {
        domain::ReferenceYuvSource source;
        source.path = media::pathFromQString(QStringLiteral("/media/clips/référence 1080p.yuv"));
        source.width = 1920;
        source.height = 1080;
        source.layout = domain::ReferenceYuvLayout::I420;
        source.frameOffset = 2;
        source.frameSizeBytes = 3110400;
        source.physicalFrames = 10;
        source.matchedFrames = 8;
        QCOMPARE(referenceYuvDescription(source),
                 QStringLiteral("référence 1080p.yuv\n1920 x 1080\nI420 8-bit\nframes=10 matched=8 offset=2\n"
                                "frame bytes=3110400"));
    }

    void describesMissingCountsAsNotAvailable() {
        domain::ReferenceYuvSource source;
        source.path = media::pathFromQString(QStringLiteral("C:\\clips\\ref.yuv"));
        source.width = 1920;
        source.height = 1080;
        source.layout = domain::ReferenceYuvLayout::Yuv422P10Le;
        QCOMPARE(referenceYuvDescription(source),
                 QStringLiteral("ref.yuv\n1920 x 1080\nYUV422P10LE 10-bit\nframes=N/A matched=N/A offset=0\n"
                                "frame bytes=N/A"));
        source.layout = static_cast<domain::ReferenceYuvLayout>(42);
        QVERIFY(referenceYuvDescription(source).contains(QStringLiteral("\nUnknown 0-bit\n")));
    }
};

VEXILO_QT_TEST(ReferenceYuvTextsTest)
#include "ReferenceYuvTextsTest.moc"
