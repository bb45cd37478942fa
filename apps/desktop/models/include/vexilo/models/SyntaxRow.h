#pragma once

#include <QString>

namespace vexilo {

// One flat row of a per-picture syntax section, in display order; the picture
// syntax model folds a list of them into a tree by names and conditions.
struct SyntaxRow {
    QString syntax;
    QString value;
    QString condition;
    QString status;
    QString semantics;
};

}  // namespace vexilo
