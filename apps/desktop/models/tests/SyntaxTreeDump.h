#pragma once

// The whole tree of a syntax model as text, one line per node, indented by depth,
// with the seven columns separated by " | ": what a golden file holds.

#include <QAbstractItemModel>
#include <QDebug>
#include <QString>
#include <QStringList>

namespace vexilo::test {

inline void dumpSyntaxRows(const QAbstractItemModel& model, const QModelIndex& parent, int depth, QStringList& lines)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(parent); ++column) {
            cells << model.index(row, column, parent).data().toString();
        }
        lines << QString(depth * 2, u' ') + cells.join(QStringLiteral(" | "));
        dumpSyntaxRows(model, model.index(row, 0, parent), depth + 1, lines);
    }
}

inline QString dumpSyntaxTree(const QAbstractItemModel& model)
{
    QStringList lines;
    dumpSyntaxRows(model, {}, 0, lines);
    const QString dump = lines.join(u'\n') + u'\n';
    if (qEnvironmentVariableIsSet("VEXILO_PRINT_SYNTAX_DUMPS")) {
        qInfo().noquote() << dump;  // failure messages cut long dumps short
    }
    return dump;
}

// The node reached by following child rows from the top (row of root, row of child, ...).
inline QModelIndex nodeAt(const QAbstractItemModel& model, std::initializer_list<int> path, int column = 0)
{
    QModelIndex index;
    for (const int row : path) {
        index = model.index(row, 0, index);
    }
    return index.sibling(index.row(), column);
}

}  // namespace vexilo::test
