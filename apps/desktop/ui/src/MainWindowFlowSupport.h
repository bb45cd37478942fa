#pragma once

#include "vexilo/application/ProjectController.h"

#include <QLabel>
#include <QString>

#include <initializer_list>
#include <string>

namespace vexilo::flow {

// A missing label is tolerated, as every other missing widget of the window.
inline void showLabelText(QLabel* label, const QString& text)
{
    if (label != nullptr) {
        label->setText(text);
    }
}

inline bool controllerIsIn(const application::ProjectController* controller,
                           std::initializer_list<application::ProjectState> states)
{
    if (controller == nullptr) {
        return false;
    }
    for (const application::ProjectState state : states) {
        if (controller->state() == state) {
            return true;
        }
    }
    return false;
}

inline bool controllerIsBrowsable(const application::ProjectController* controller)
{
    return controllerIsIn(controller, {application::ProjectState::Ready, application::ProjectState::Analyzing});
}

inline QString decimal(std::uint64_t value) { return QString::number(value); }
inline QString decimal(std::int64_t value) { return QString::number(value); }

inline QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

inline const QString kBlockInfoTitle = QStringLiteral("Block Info");
inline const QString kNoPictureSelected = QStringLiteral("No picture selected");
inline const QString kNoProjectOpened = QStringLiteral("No project opened");

}  // namespace vexilo::flow
