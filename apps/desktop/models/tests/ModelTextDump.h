#pragma once

// A model written out as text: headers, every cell's display text and, where a model serves
// them, each cell's font, colours, alignment and tooltip; for golden files a person can read.

#include <QAbstractItemModel>
#include <QBrush>
#include <QFont>
#include <QStringList>

namespace vexilo::test {

inline QString colourText(const QVariant& value) {
    return value.value<QBrush>().color().name();
}

inline QString fontText(const QVariant& value) {
    const QFont font = value.value<QFont>();
    QString text = QStringLiteral("weight %1").arg(font.weight());
    if (font.family() != QFont().family()) {
        text += QStringLiteral(" family %1").arg(font.family());
    }
    return text;
}

inline QString alignmentText(const QVariant& value) {
    const auto alignment = static_cast<Qt::Alignment>(value.toInt());
    QStringList parts;
    if (alignment & Qt::AlignLeft) {
        parts << QStringLiteral("left");
    }
    if (alignment & Qt::AlignVCenter) {
        parts << QStringLiteral("vcenter");
    }
    return parts.join(QLatin1Char('+'));
}

// Every non-display role a cell serves, or an empty text.
inline QString cellStyleText(const QAbstractItemModel& model, const QModelIndex& index) {
    QStringList parts;
    if (const QVariant font = model.data(index, Qt::FontRole); font.isValid()) {
        parts << QStringLiteral("font=%1").arg(fontText(font));
    }
    if (const QVariant foreground = model.data(index, Qt::ForegroundRole); foreground.isValid()) {
        parts << QStringLiteral("fg=%1").arg(colourText(foreground));
    }
    if (const QVariant background = model.data(index, Qt::BackgroundRole); background.isValid()) {
        parts << QStringLiteral("bg=%1").arg(colourText(background));
    }
    if (const QVariant alignment = model.data(index, Qt::TextAlignmentRole); alignment.isValid()) {
        parts << QStringLiteral("align=%1").arg(alignmentText(alignment));
    }
    if (const QVariant tip = model.data(index, Qt::ToolTipRole); tip.isValid()) {
        parts << QStringLiteral("tip=\"%1\"").arg(tip.toString());
    }
    return parts.join(QLatin1Char(' '));
}

inline QStringList dumpModel(const QAbstractItemModel& model, const QString& title) {
    QStringList lines{QStringLiteral("== %1").arg(title)};
    QStringList headers;
    for (int column = 0; column < model.columnCount(); ++column) {
        headers << model.headerData(column, Qt::Horizontal).toString();
    }
    lines << QStringLiteral("   %1").arg(headers.join(QStringLiteral(" | ")));
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        QStringList styles;
        for (int column = 0; column < model.columnCount(); ++column) {
            const QModelIndex index = model.index(row, column);
            cells << model.data(index).toString();
            if (const QString style = cellStyleText(model, index); !style.isEmpty()) {
                styles << QStringLiteral("[%1] %2").arg(QString::number(column), style);
            }
        }
        lines << QStringLiteral("%1 %2").arg(QString::number(row).rightJustified(2), cells.join(QStringLiteral(" | ")));
        for (const QString& style : styles) {
            lines << QStringLiteral("      %1").arg(style);
        }
    }
    return lines;
}

}  // namespace vexilo::test
