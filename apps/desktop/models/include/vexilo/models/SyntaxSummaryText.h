#pragma once

// The identity and summary texts of the syntax and statistics models (slice table, syntax
// trees, AI evidence). They name objects by their short identity and differ in wording from
// the inspector's summaries of the same objects (vexilo::display), so the two sets live in
// separate namespaces.

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/models/DisplayFormat.h"

#include <QString>

namespace vexilo::syntaxtext {

// The texts both sets share, so that a syntax model finds its whole vocabulary here.
using display::formatOptionalBool;
using display::formatOptionalInt16;
using display::formatOptionalInt32;
using display::formatOptionalUInt32;
using display::formatOptionalUInt8;
using display::nalUnitKindText;
using display::parameterSetKindText;
using display::parseStatusText;
using display::partModeText;
using display::profileText;
using display::referenceStatusText;
using display::rpsSourceText;
using display::sliceTypeText;

// "id:" and the low half in lower-case hexadecimal, at least 8 digits.
[[nodiscard]] QString stableIdText(const analysis::StableId& id);

// "%1 byte=%2 size=%3 %4": kind text, byte offset, byte size, identity text.
[[nodiscard]] QString nalUnitSummaryText(const analysis::NalUnitInfo& nalUnit);

// "Slice %1 POC=%2 CTU=%3 %4": slice type, POC, first CTU address, identity text.
[[nodiscard]] QString sliceSummaryText(const analysis::SliceInfo& slice);

}  // namespace vexilo::syntaxtext
