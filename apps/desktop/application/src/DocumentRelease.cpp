#include "DocumentRelease.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <malloc.h>
#include <pthread.h>

namespace vexilo::application {
namespace {

constexpr const char* kReleaseThreadName = "vexiloRelease";

// One thread for the whole program, started with the first document. It is never stopped:
// documents may be let go of until the program ends, so the thread and its queue stay.
class DocumentReleaser {
public:
    DocumentReleaser() : thread_([this] { run(); })
    {
        // Named by its maker, so that the name is right once the first document is shared; a
        // thread that names itself carries its maker's name (often a job thread's) until then.
        pthread_setname_np(thread_.native_handle(), kReleaseThreadName);
        thread_.detach();
    }

    void release(const analysis::StreamAnalysis* document)
    {
        {
            const std::lock_guard lock(mutex_);
            queue_.emplace_back(document);
        }
        wake_.notify_one();
    }

    void trimAfterReleases()
    {
        {
            const std::lock_guard lock(mutex_);
            trimRequested_ = true;
        }
        wake_.notify_one();
    }

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !queue_.empty() || trimRequested_; });
            std::deque<std::unique_ptr<const analysis::StreamAnalysis>> freed;
            freed.swap(queue_);
            const bool trim = std::exchange(trimRequested_, false);
            lock.unlock();
            freed.clear();
            if (trim) {
                returnFreeHeap();
            }
            lock.lock();
        }
    }

    static void returnFreeHeap()
    {
#if defined(__GLIBC__)
        malloc_trim(0);
#endif
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool trimRequested_ = false;
    std::deque<std::unique_ptr<const analysis::StreamAnalysis>> queue_;
    std::thread thread_;
};

DocumentReleaser& releaser()
{
    // Never destroyed: a document released while the program exits must still find it.
    static auto* const instance = new DocumentReleaser();
    return *instance;
}

}  // namespace

std::shared_ptr<const analysis::StreamAnalysis> shareDocument(analysis::StreamAnalysis document)
{
    DocumentReleaser& owner = releaser();
    return {new analysis::StreamAnalysis(std::move(document)),
            [&owner](const analysis::StreamAnalysis* released) { owner.release(released); }};
}

void returnFreedMemoryAfterReleases()
{
    releaser().trimAfterReleases();
}

}  // namespace vexilo::application
