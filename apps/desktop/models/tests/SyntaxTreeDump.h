#pragma once

// The whole tree of a syntax model as text, one line per node, indented by depth,
// with the seven columns separated by " | ": what a golden file holds.

#include <QAbstractItemModel>
#include <QDebug>
#include <QString>
#include <QStringList>

#include <algorithm>

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

// The tree from `index` down as the syntax tables print it: one name a line, indented by
// depth, a catalogued element's value after " = "; a node named in `counted` shows how many
// rows it holds instead of listing them.
inline void appendSyntaxTable(const QAbstractItemModel& model, const QModelIndex& index, int depth,
                              const QStringList& counted, QStringList& lines)
{
    QString line = QString(depth * 2, u' ') + index.data().toString();
    if (!index.siblingAtColumn(2).data().toString().isEmpty()) {
        line += QStringLiteral(" = ") + index.siblingAtColumn(1).data().toString();
    }
    const int children = model.rowCount(index);
    if (counted.contains(index.data().toString())) {
        lines << line + QStringLiteral(" [%1 rows]").arg(children);
        return;
    }
    lines << line;
    for (int row = 0; row < children; ++row) {
        appendSyntaxTable(model, model.index(row, 0, index), depth + 1, counted, lines);
    }
}

inline QString syntaxTable(const QAbstractItemModel& model, const QModelIndex& index, const QStringList& counted = {})
{
    QStringList lines;
    appendSyntaxTable(model, index, 0, counted, lines);
    const QString table = lines.join(u'\n') + u'\n';
    if (qEnvironmentVariableIsSet("VEXILO_PRINT_SYNTAX_DUMPS")) {
        qInfo().noquote() << table;
    }
    return table;
}

// Where two tables first differ, for a failure message: QCOMPARE cuts long texts short.
inline QString tableDifference(const QString& actual, const QString& expected)
{
    const QStringList actualLines = actual.split(u'\n');
    const QStringList expectedLines = expected.split(u'\n');
    for (qsizetype line = 0; line < std::max(actualLines.size(), expectedLines.size()); ++line) {
        const QString got = actualLines.value(line, QStringLiteral("<end>"));
        const QString wanted = expectedLines.value(line, QStringLiteral("<end>"));
        if (got != wanted) {
            return QStringLiteral("line %1:\n  actual   %2\n  expected %3\n(VEXILO_PRINT_SYNTAX_DUMPS=1 prints the table)")
                .arg(line + 1)
                .arg(got, wanted);
        }
    }
    return {};
}

// The first node below `parent` whose first column is `syntax`, searched through the whole tree.
inline QModelIndex findNode(const QAbstractItemModel& model, const QString& syntax, const QModelIndex& parent = {})
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (index.data().toString() == syntax) {
            return index;
        }
        if (const QModelIndex inner = findNode(model, syntax, index); inner.isValid()) {
            return inner;
        }
    }
    return {};
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
