#include "QualityAnalysisRun.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>

#include <utility>

namespace vexilo {

QualityAnalysisRun::QualityAnalysisRun(QObject* parent, Body body) : QObject(parent), body_(std::move(body)) {}

QualityAnalysisRun::~QualityAnalysisRun() {
    stop();
}

bool QualityAnalysisRun::start(application::QualityAnalysisInput input, const QString& label) {
    if (thread_ != nullptr) {
        return false;
    }
    const std::uint64_t runGeneration = ++generation_;
    cancelFlag_ = std::make_shared<std::atomic<bool>>(false);
    cancelRequested_ = false;

    QPointer<QualityAnalysisRun> guard(this);
    auto postResult = [guard, runGeneration](application::QualityPairResult result) {
        if (guard.isNull()) {
            return;
        }
        QMetaObject::invokeMethod(
            guard.data(),
            [guard, runGeneration, result = std::move(result)] {
                QualityAnalysisRun* const run = guard.data();
                if (run != nullptr && run->generation_ == runGeneration) {
                    emit run->resultReady(result);
                }
            },
            Qt::QueuedConnection);
    };
    thread_ = QThread::create([body = body_, flag = cancelFlag_, input = std::move(input), postResult]() mutable {
        body(input, flag, std::move(postResult));
    });
    // A child, so that a window closed with no event loop left still frees the finished thread.
    thread_->setParent(this);
    connect(thread_, &QThread::finished, this,
            [this, runGeneration, label] { onThreadFinished(runGeneration, label); });
    connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
    thread_->start(QThread::InheritPriority);
    return true;
}

bool QualityAnalysisRun::requestCancel() {
    if (!cancelFlag_) {
        return false;
    }
    cancelRequested_ = true;
    cancelFlag_->store(true);
    return true;
}

void QualityAnalysisRun::stop() {
    const std::uint64_t stoppedGeneration = generation_;
    requestCancel();
    if (thread_ != nullptr && thread_->isRunning()) {
        thread_->quit();
        thread_->wait(QDeadlineTimer(QDeadlineTimer::Forever));
    }
    if (generation_ == stoppedGeneration) {
        ++generation_;
    }
    forgetRun();
}

void QualityAnalysisRun::onThreadFinished(std::uint64_t runGeneration, const QString& label) {
    if (runGeneration != generation_) {
        return;
    }
    const bool canceled = cancelRequested_;
    forgetRun();
    emit finished(label, canceled);
}

void QualityAnalysisRun::forgetRun() {
    thread_ = nullptr;
    cancelFlag_.reset();
    cancelRequested_ = false;
}

}  // namespace vexilo
