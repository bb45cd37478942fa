#pragma once

#include "vexilo/domain/ReferenceYuvSource.h"

#include <QDialog>

#include <filesystem>
#include <optional>

class QComboBox;
class QSpinBox;

namespace vexilo {

// A bare .yuv file says nothing about itself: the user states its geometry, layout, colour
// range and frame offset, and the dialog only accepts a description the file on disk agrees
// with. Nothing is guessed.
class ReferenceYuvMetadataDialog : public QDialog {
    Q_OBJECT

public:
    explicit ReferenceYuvMetadataDialog(std::filesystem::path path, QWidget* parent = nullptr);

    void accept() override;

    // The description the controls hold now; the derived sizes stay empty.
    [[nodiscard]] domain::ReferenceYuvSource currentSource() const;
    // The validated description with its derived sizes; empty until an accept succeeded.
    [[nodiscard]] std::optional<domain::ReferenceYuvSource> acceptedSource() const;

private:
    QSpinBox* addSpinBox(const char* objectName, int minimum, int maximum, int value);

    std::filesystem::path path_;
    QSpinBox* widthSpinBox_ = nullptr;
    QSpinBox* heightSpinBox_ = nullptr;
    QComboBox* layoutComboBox_ = nullptr;
    QComboBox* colorRangeComboBox_ = nullptr;
    QSpinBox* frameOffsetSpinBox_ = nullptr;
    std::optional<domain::ReferenceYuvSource> acceptedSource_;
};

}  // namespace vexilo
