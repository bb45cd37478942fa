#include "vexilo/models/SyntaxSummaryText.h"

#include "vexilo/models/DisplayFormat.h"

namespace vexilo::syntaxtext {

QString stableIdText(const analysis::StableId& id) {
    return display::shortIdText(id);
}

QString nalUnitSummaryText(const analysis::NalUnitInfo& nalUnit) {
    return QStringLiteral("%1 byte=%2 size=%3 %4")
        .arg(display::nalUnitKindText(display::codeOf(nalUnit.kind)), display::decimalText(nalUnit.byteOffset),
             display::decimalText(nalUnit.byteSize), stableIdText(nalUnit.id));
}

QString sliceSummaryText(const analysis::SliceInfo& slice) {
    return QStringLiteral("Slice %1 POC=%2 CTU=%3 %4")
        .arg(display::sliceTypeText(display::codeOf(slice.type)), display::formatOptionalInt32(slice.poc),
             display::formatOptionalUInt32(slice.firstCtuAddress), stableIdText(slice.id));
}

}  // namespace vexilo::syntaxtext
