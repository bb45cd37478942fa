// The structure start as the "analyze" request carries it: what the desktop writes the worker
// reads back unchanged, and anything that is not a start in whole numbers is refused.
#include "vexilo/protocol/StructureStart.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

namespace vexilo::protocol {
namespace {

StructureStart sampleStart()
{
    StructureStart start;
    start.accessUnitOffset = 6692;
    start.firstSliceOffset = 6790;
    start.picturesBefore = 5;
    start.slicesBefore = 5;
    start.nalUnitsBefore = 12;
    start.picOrderCnt = -3;
    start.firstDisplayIndex = 2;
    start.skippedPicturesTakeIdentities = true;
    // Beyond 32 bits, as in a file of several gigabytes.
    start.parameterSets = {{4'294'967'296ULL, 24}, {4'294'967'330ULL, 41}};
    return start;
}

TEST(StructureStart, ReadsBackWhatItWrites)
{
    EXPECT_EQ(structureStartFromJson(structureStartToJson(sampleStart())), sampleStart());
    EXPECT_EQ(structureStartFromJson(structureStartToJson(StructureStart{})), StructureStart{});
}

TEST(StructureStart, RefusesWhatIsNoStartInWholeNumbers)
{
    const QJsonObject good = structureStartToJson(sampleStart());
    const auto with = [&good](const char* name, const QJsonValue& value) {
        QJsonObject changed = good;
        changed.insert(QLatin1StringView(name), value);
        return changed;
    };
    const QJsonObject without = [&good] {
        QJsonObject changed = good;
        changed.remove(QLatin1StringView("nalUnitsBefore"));
        return changed;
    }();
    for (const QJsonValue& bad : {QJsonValue(QStringLiteral("start")), QJsonValue(without),
                                  QJsonValue(with("accessUnitOffset", -1)), QJsonValue(with("picturesBefore", 2.5)),
                                  QJsonValue(with("firstSliceOffset", 6000)),  // before its access unit
                                  QJsonValue(with("picOrderCnt", 4'294'967'296.0)),
                                  QJsonValue(with("skippedPicturesTakeIdentities", 1)),
                                  QJsonValue(with("parameterSets", QJsonArray{QJsonArray{10}})),
                                  QJsonValue(with("parameterSets", QJsonArray{QJsonArray{10, 0}})),
                                  QJsonValue(with("firstDisplayIndex", 1e300))}) {
        EXPECT_FALSE(structureStartFromJson(bad)) << QJsonDocument(bad.isObject() ? bad.toObject() : QJsonObject{})
                                                         .toJson(QJsonDocument::Compact)
                                                         .toStdString();
    }
}

}  // namespace
}  // namespace vexilo::protocol
