#pragma once

// The section builders of the picture syntax model: each appends the flat rows of
// its section, in display order, for the model's document and picture.

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/models/SyntaxRow.h"

#include <functional>
#include <vector>

namespace vexilo {
class PictureSyntaxModel;
}

namespace vexilo::syntaxrows {

// Appends the rows of one top-level structure (a NAL unit, a parameter set), its own row
// first; it can be called again whenever a view first asks for the structure's rows. It reads
// the model's held document and is valid while the model holds it.
using SyntaxStructure = std::function<void(std::vector<SyntaxRow>&)>;

[[nodiscard]] std::vector<SyntaxStructure> nalUnitStructures(const PictureSyntaxModel& model);
[[nodiscard]] std::vector<SyntaxStructure> parameterSetStructures(const PictureSyntaxModel& model,
                                                                  analysis::ParameterSetKind kind);
void buildSeiSyntax(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows);
void buildSliceHeaderSyntax(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows);

}  // namespace vexilo::syntaxrows
