#pragma once

// The section builders of the picture syntax model: each appends the flat rows of
// its section, in display order, for the model's document and picture.

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/models/SyntaxRow.h"

#include <vector>

namespace vexilo {
class PictureSyntaxModel;
}

namespace vexilo::syntaxrows {

void buildNalSyntax(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows);
void buildSeiSyntax(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows);
void buildParameterSetSyntax(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows,
                             analysis::ParameterSetKind kind);
void buildSliceHeaderSyntax(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows);

}  // namespace vexilo::syntaxrows
