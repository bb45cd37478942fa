#include "DocumentRelease.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <malloc.h>
#include <pthread.h>

namespace vexilo::application {
namespace {

constexpr const char* kReleaseThreadName = "vexiloRelease";

// One thread for the whole program, started with the first document. It runs until the program
// exits: then it frees what is still queued and is joined, so that no thread of ours is freeing
// memory while the process tears down (LeakSanitizer stops every thread at exit to scan them).
// A document let go of after that is freed by whoever lets go of it.
class DocumentReleaser {
public:
    DocumentReleaser() : thread_([this] { run(); })
    {
        // Named by its maker, so that the name is right once the first document is shared; a
        // thread that names itself carries its maker's name (often a job thread's) until then.
        pthread_setname_np(thread_.native_handle(), kReleaseThreadName);
    }

    void release(const analysis::StreamAnalysis* document)
    {
        std::unique_ptr<const analysis::StreamAnalysis> owned(document);
        {
            const std::lock_guard lock(mutex_);
            if (!finishing_) {
                queue_.push_back(std::move(owned));
            }
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

    void finish()
    {
        {
            const std::lock_guard lock(mutex_);
            finishing_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !queue_.empty() || trimRequested_ || finishing_; });
            std::deque<std::unique_ptr<const analysis::StreamAnalysis>> freed;
            freed.swap(queue_);
            const bool trim = std::exchange(trimRequested_, false) && !finishing_;
            const bool finished = finishing_;
            lock.unlock();
            freed.clear();
            if (trim) {
                returnFreeHeap();
            }
            if (finished) {
                return;
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
    bool finishing_ = false;
    std::deque<std::unique_ptr<const analysis::StreamAnalysis>> queue_;
    std::thread thread_;
};

void finishReleasesAtExit();

DocumentReleaser& releaser()
{
    // Never destroyed: a document released while the program exits must still find it.
    static auto* const instance = [] {
        auto* created = new DocumentReleaser();
        std::atexit(finishReleasesAtExit);
        return created;
    }();
    return *instance;
}

void finishReleasesAtExit()
{
    releaser().finish();
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
