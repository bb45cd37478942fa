#pragma once

// What the display-only table models share: which cells they answer for, and their headers.

#include <QModelIndex>
#include <QString>
#include <QVariant>

#include <array>
#include <cstddef>
#include <optional>

namespace vexilo {

// The row of a display-role request for a cell inside a table of `rowCount` rows and
// `columnCount` columns, or nothing for any other role or cell.
inline std::optional<std::size_t> displayedRow(const QModelIndex& index, int role, std::size_t rowCount,
                                               int columnCount) {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 || index.column() < 0 ||
        index.column() >= columnCount || static_cast<std::size_t>(index.row()) >= rowCount) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(index.row());
}

// The horizontal display-role header of a section, empty for everything else.
template <std::size_t ColumnCount>
QVariant horizontalHeader(const std::array<QString, ColumnCount>& headers, int section, Qt::Orientation orientation,
                          int role) {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        static_cast<std::size_t>(section) >= ColumnCount) {
        return {};
    }
    return headers[static_cast<std::size_t>(section)];
}

}  // namespace vexilo
