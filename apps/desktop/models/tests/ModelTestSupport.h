#pragma once

// Small documents and model checks shared by the model tests.

#include "vexilo/analysis/StreamAnalysis.h"

#include <QAbstractItemModel>
#include <QAbstractItemModelTester>
#include <QStringList>

#include <memory>

namespace vexilo::test {

inline analysis::StableId idOf(std::uint64_t low) {
    return analysis::StableId{0x5eed, low};
}

inline analysis::BlockRect lumaRect(std::int32_t x, std::int32_t y, std::uint32_t width, std::uint32_t height) {
    return analysis::BlockRect{x, y, width, height, analysis::kBlockRectUnitLumaSample};
}

// A model under QAbstractItemModelTester for the whole test; failures fail the test.
inline std::unique_ptr<QAbstractItemModelTester> watch(QAbstractItemModel* model) {
    return std::make_unique<QAbstractItemModelTester>(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

// One row's display texts, columns joined by " | ".
inline QString rowText(const QAbstractItemModel& model, int row) {
    QStringList cells;
    for (int column = 0; column < model.columnCount(); ++column) {
        cells << model.data(model.index(row, column)).toString();
    }
    return cells.join(QStringLiteral(" | "));
}

// The column texts of one column, top to bottom.
inline QStringList columnTexts(const QAbstractItemModel& model, int column) {
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        texts << model.data(model.index(row, column)).toString();
    }
    return texts;
}

}  // namespace vexilo::test
