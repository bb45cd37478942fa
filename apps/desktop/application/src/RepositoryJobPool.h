#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace vexilo::application {

// A few job threads shared by every job of one repository. A preload asks for one job per
// picture; a thread per job would leave thousands of exited threads waiting to be joined.
class RepositoryJobPool {
public:
    using Job = std::function<void(const std::stop_token&)>;

    explicit RepositoryJobPool(std::size_t maxThreads);
    ~RepositoryJobPool();

    RepositoryJobPool(const RepositoryJobPool&) = delete;
    RepositoryJobPool& operator=(const RepositoryJobPool&) = delete;

    // Called from the owner's thread only, as is stop().
    void post(Job job);
    // Drops queued jobs, asks running ones to stop and joins every thread. Later posts start
    // new threads.
    void stop();

private:
    void run(const std::stop_token& stopToken);

    const std::size_t maxThreads_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<Job> queue_;
    std::size_t idleThreads_ = 0;
    std::vector<std::jthread> threads_;
};

}  // namespace vexilo::application
