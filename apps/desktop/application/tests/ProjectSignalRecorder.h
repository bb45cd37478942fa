#pragma once

// Records every signal of a project controller in arrival order, by name, with the payloads
// the tests look at.

#include "vexilo/application/ProjectController.h"

#include <QObject>
#include <QStringList>
#include <QTest>

#include <functional>
#include <ostream>
#include <vector>

// Readable failure messages for the recorded names.
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }
inline void PrintTo(const QStringList& list, std::ostream* out) { *out << list.join(QLatin1Char(' ')).toStdString(); }

namespace vexilo::application::test {

inline constexpr int kProjectWaitMs = 60000;

class ProjectSignalRecorder {
public:
    ProjectSignalRecorder(const ProjectSignalRecorder&) = delete;
    ProjectSignalRecorder& operator=(const ProjectSignalRecorder&) = delete;

    explicit ProjectSignalRecorder(ProjectController& controller)
    {
        QObject::connect(&controller, &ProjectController::stateChanged, &context_, [this](ProjectState state) {
            names.append(QStringLiteral("state:%1").arg(stateName(state)));
            states.push_back(state);
        });
        QObject::connect(&controller, &ProjectController::taskStarted, &context_, [this](const QString& path) {
            names.append(QStringLiteral("taskStarted"));
            startedPaths.append(path);
        });
        QObject::connect(&controller, &ProjectController::taskProgress, &context_, [this](const ProjectTaskProgress& progress) {
            names.append(QStringLiteral("progress:%1:%2").arg(progress.stage).arg(progress.decodedPictures));
        });
        QObject::connect(&controller, &ProjectController::streamReady, &context_, [this](const domain::StreamInfo& info) {
            names.append(QStringLiteral("streamReady"));
            streamInfos.push_back(info);
        });
        QObject::connect(&controller, &ProjectController::pictureBatchDecoded, &context_, [this](const PictureInfoBatch& batch) {
            names.append(QStringLiteral("batch:%1").arg(batch.size()));
            batches.push_back(batch);
        });
        QObject::connect(&controller, &ProjectController::pictureThumbnailReady, &context_, [this](const PictureThumbnail& thumbnail) {
                             names.append(QStringLiteral("thumbnail"));
                             thumbnails.push_back(thumbnail);
                         });
        QObject::connect(&controller, &ProjectController::pictureSelectionChanged, &context_, [this](domain::PictureId id) { names.append(QStringLiteral("selected:%1").arg(id)); });
        QObject::connect(&controller, &ProjectController::pictureSelectionCleared, &context_, [this] { names.append(QStringLiteral("selectionCleared")); });
        QObject::connect(&controller, &ProjectController::selectedFrameReady, &context_, [this](const VideoFramePtr& frame) {
            names.append(QStringLiteral("frameReady"));
            frames.push_back(frame);
        });
        QObject::connect(&controller, &ProjectController::selectedFrameUnavailable, &context_, [this](domain::PictureId id, const QString& reason) {
                             names.append(QStringLiteral("frameUnavailable:%1").arg(id));
                             unavailableReasons.append(reason);
                         });
        QObject::connect(&controller, &ProjectController::taskFinished, &context_, [this](const ProjectTaskSummary& summary) {
            names.append(QStringLiteral("taskFinished"));
            summaries.push_back(summary);
        });
        QObject::connect(&controller, &ProjectController::taskError, &context_, [this](const ProjectTaskError& error) {
            names.append(QStringLiteral("taskError:%1").arg(error.code));
            errors.push_back(error);
        });
        QObject::connect(&controller, &ProjectController::taskCanceled, &context_, [this] { names.append(QStringLiteral("taskCanceled")); });
    }

    static QString stateName(ProjectState state)
    {
        static const char* const kNames[] = {"Empty", "Opening", "Ready", "Analyzing", "Cancelling", "Closing", "Error"};
        const auto index = static_cast<std::size_t>(state);
        return index < std::size(kNames) ? QString::fromLatin1(kNames[index]) : QStringLiteral("?");
    }

    static bool waitFor(const std::function<bool()>& done, int timeoutMs = kProjectWaitMs)
    {
        return QTest::qWaitFor(done, timeoutMs);
    }

    [[nodiscard]] bool has(const QString& name) const { return names.contains(name); }
    [[nodiscard]] bool hasEnded() const
    {
        return has(QStringLiteral("taskFinished")) || has(QStringLiteral("taskCanceled")) || !errors.empty();
    }

    void clear()
    {
        names.clear();
        states.clear();
        startedPaths.clear();
        streamInfos.clear();
        batches.clear();
        thumbnails.clear();
        frames.clear();
        unavailableReasons.clear();
        summaries.clear();
        errors.clear();
    }

    QStringList names;
    std::vector<ProjectState> states;
    QStringList startedPaths;
    std::vector<domain::StreamInfo> streamInfos;
    std::vector<PictureInfoBatch> batches;
    std::vector<PictureThumbnail> thumbnails;
    std::vector<VideoFramePtr> frames;
    QStringList unavailableReasons;
    std::vector<ProjectTaskSummary> summaries;
    std::vector<ProjectTaskError> errors;

private:
    // Receives the connections, so that a controller outliving the recorder reports to no one.
    QObject context_;
};

}  // namespace vexilo::application::test
