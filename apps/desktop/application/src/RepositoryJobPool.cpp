#include "RepositoryJobPool.h"

#include <utility>

namespace vexilo::application {

RepositoryJobPool::RepositoryJobPool(std::size_t maxThreads) : maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

RepositoryJobPool::~RepositoryJobPool()
{
    stop();
}

void RepositoryJobPool::post(Job job)
{
    bool startThread = false;
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
        startThread = idleThreads_ < queue_.size() && threads_.size() < maxThreads_;
    }
    if (startThread) {
        threads_.emplace_back([this](const std::stop_token& stopToken) { run(stopToken); });
    }
    wake_.notify_one();
}

void RepositoryJobPool::stop()
{
    {
        const std::lock_guard lock(mutex_);
        queue_.clear();
    }
    for (std::jthread& thread : threads_) {
        thread.request_stop();
    }
    for (std::jthread& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    threads_.clear();
}

void RepositoryJobPool::run(const std::stop_token& stopToken)
{
    while (true) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            ++idleThreads_;
            const bool hasJob = wake_.wait(lock, stopToken, [this] { return !queue_.empty(); });
            --idleThreads_;
            if (!hasJob) {
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job(stopToken);
        if (stopToken.stop_requested()) {
            return;
        }
    }
}

}  // namespace vexilo::application
