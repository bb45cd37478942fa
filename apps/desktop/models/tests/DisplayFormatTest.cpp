#include "vexilo/models/DisplayFormat.h"
#include "vexilo/models/SyntaxSummaryText.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QTest>

using namespace vexilo;
using namespace vexilo::display;
using analysis::StableId;

class DisplayFormatTest : public QObject {
    Q_OBJECT

private slots:
    void optionalNumbersKeepTheirWidthAndSignedness() {
        QCOMPARE(formatOptionalInt8(static_cast<std::int8_t>(-1)), QStringLiteral("-1"));
        QCOMPARE(formatOptionalUInt8(static_cast<std::uint8_t>(255)), QStringLiteral("255"));
        QCOMPARE(formatOptionalInt16(static_cast<std::int16_t>(-32768)), QStringLiteral("-32768"));
        QCOMPARE(formatOptionalUInt32(0xFFFFFFFFU), QStringLiteral("4294967295"));
        QCOMPARE(formatOptionalInt32(std::nullopt), QStringLiteral("N/A"));
        std::optional<std::int32_t> cleared = 7;
        cleared.reset();
        QCOMPARE(formatOptionalInt32(cleared), QStringLiteral("N/A"));
        QCOMPARE(formatOptionalBool(std::nullopt), QStringLiteral("N/A"));
        QCOMPARE(formatOptionalBool(false), QStringLiteral("false"));
        QCOMPARE(formatOptionalBool(true), QStringLiteral("true"));
        QCOMPARE(presenceStatusText(std::optional<int>{3}, QStringLiteral("signaled")), QStringLiteral("signaled"));
        QCOMPARE(presenceStatusText(std::optional<StableId>{}, QStringLiteral("derived")), QStringLiteral("unknown"));
    }

    void identitiesAreHexadecimal() {
        QCOMPARE(shortIdText(StableId{0, 0x1234}), QStringLiteral("id:00001234"));
        QCOMPARE(shortIdText(StableId{0xFFFF, 0}), QStringLiteral("id:00000000"));
        QCOMPARE(shortIdText(StableId{0, 0xABCDEF0123ULL}), QStringLiteral("id:abcdef0123"));
        QCOMPARE(stableIdText(StableId{10, 1}), QStringLiteral("000000000000000a:0000000000000001"));
        QCOMPARE(stableIdText(StableId{}), QStringLiteral("0000000000000000:0000000000000000"));
        QCOMPARE(provenanceText(StableId{}), QStringLiteral("unavailable"));
        QCOMPARE(provenanceText(StableId{1, 0}), QStringLiteral("derived"));
        QCOMPARE(syntaxtext::stableIdText(StableId{5, 0x2a}), QStringLiteral("id:0000002a"));
    }

    void enumerationTables_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("parse 0") << parseStatusText(0) << "unknown";
        QTest::newRow("parse 2") << parseStatusText(2) << "malformed";
        QTest::newRow("parse 3") << parseStatusText(3) << "unknown";
        QTest::newRow("sei 2") << seiStatusText(2) << "unsupported";
        QTest::newRow("sei 3") << seiStatusText(3) << "malformed";
        QTest::newRow("nal 0") << nalUnitKindText(0) << "Unknown";
        QTest::newRow("nal 5") << nalUnitKindText(5) << "Prefix SEI";
        QTest::newRow("ps 0") << parameterSetKindText(0) << "Unknown";
        QTest::newRow("ps 3") << parameterSetKindText(3) << "PPS";
        QTest::newRow("profile 2") << profileText(2) << "Main 10";
        QTest::newRow("profile 9") << profileText(9) << "Unknown";
        QTest::newRow("slice 3") << sliceTypeText(3) << "B";
        QTest::newRow("picture 257") << pictureTypeText(257) << "Unknown";
        QTest::newRow("completeness 3") << pictureCompletenessText(3) << "failed";
        QTest::newRow("rps 1") << rpsSourceText(1) << "slice-header";
        QTest::newRow("reference 4") << referenceStatusText(4) << "current-picture";
        QTest::newRow("list 2") << referenceListText(2) << "L1";
        QTest::newRow("list 3") << referenceListText(3) << "Unknown";
        QTest::newRow("inter 3") << interDirectionText(3) << "Bi";
        QTest::newRow("pred 3") << predictionModeText(3) << "skip";
        QTest::newRow("part 0") << partModeText(0) << "unknown";
        QTest::newRow("part 8") << partModeText(8) << "nRx2N";
        QTest::newRow("part 9") << partModeText(9) << "unknown";
    }
    void enumerationTables() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    void summariesAndBounds() {
        QCOMPARE(blockBoundsText({-8, 16, 32, 64, 1}), QStringLiteral("x=-8 y=16 w=32 h=64 unit=luma-sample"));
        QCOMPARE(blockBoundsText({0, 0, 8, 8, 0}), QStringLiteral("x=0 y=0 w=8 h=8 unit=unknown"));

        analysis::NalUnitInfo nal;
        nal.id = {0, 0x11};
        nal.kind = analysis::NalUnitKind::Sps;
        nal.byteOffset = 23;
        nal.byteSize = 42;
        QCOMPARE(nalUnitSummaryText(nal), QStringLiteral("NAL SPS type=N/A @ byte 23 +42"));
        QCOMPARE(syntaxtext::nalUnitSummaryText(nal), QStringLiteral("SPS byte=23 size=42 id:00000011"));

        analysis::SliceInfo slice;
        slice.id = {0, 0x22};
        slice.type = analysis::SliceType::B;
        slice.poc = -3;
        slice.firstCtuAddress = 12;
        QCOMPARE(sliceSummaryText(slice), QStringLiteral("Slice B POC=-3 firstCTU=12 display=N/A"));
        QCOMPARE(syntaxtext::sliceSummaryText(slice), QStringLiteral("Slice B POC=-3 CTU=12 id:00000022"));

        analysis::MotionVectorInfo mv;
        mv.list = analysis::ReferenceList::L1;
        mv.referenceIndex = static_cast<std::int8_t>(-1);
        mv.mvX = -5;
        QCOMPARE(motionVectorSummaryText(mv), QStringLiteral("MV L1 refIdx=-1 refPOC=N/A x=-5 y=N/A quarter-luma"));
    }

    void referencesResolveTheFirstMatchOrSayUnresolved() {
        analysis::StreamAnalysis document;
        analysis::CuInfo first;
        first.id = {1, 2};
        first.depth = 1;
        analysis::CuInfo second = first;
        second.depth = 3;
        document.cus = {first, second};
        QVERIFY(cuReferenceText(document, {1, 2}).startsWith(QStringLiteral("CU depth=1 ")));
        QCOMPARE(cuReferenceText(document, {0, 42}), QStringLiteral("Unresolved CU (id:0000002a)"));
        QCOMPARE(cuReferenceText(document, {}), QStringLiteral("Unresolved CU (id:00000000)"));
        QCOMPARE(sliceReferenceText(document, {0, 1}), QStringLiteral("Unresolved slice (id:00000001)"));
        QCOMPARE(pictureReferenceText(document, {0, 1}), QStringLiteral("Unresolved picture (id:00000001)"));
        QCOMPARE(nalUnitReferenceText(document, {0, 1}), QStringLiteral("Unresolved NAL (id:00000001)"));
    }
};

VEXILO_QT_TEST(DisplayFormatTest)
#include "DisplayFormatTest.moc"
