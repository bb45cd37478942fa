// The observer's C entry points and the feed calls of the pipeline. Registrations are kept
// per codec context; each has its own lock, held while its events are delivered, so that
// av_vexilo_clear_observer returns only when no delivery is running any more. A registration
// may deliver on a thread of its own, as a decoder's own threads would: the feed calls then
// queue their work, which that thread does in the order it was fed.
#include "observer_session.h"

#include <vexilo/ffmpeg_handles/PacketIdentityCarrier.h>
#include <vexilo/hevc_observer/observer_abi.h>
#include <vexilo/hevc_observer/observer_feed.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using SessionWork = std::function<void()>;

// How much fed work may wait for a registration's delivery thread: enough to even out
// pictures that take longer to parse than to decode, few enough that the packets waiting
// stay a small part of memory.
constexpr std::size_t kQueuedWorkLimit = 16;

// The work fed to a delivery thread, shared with that thread so that it outlives a
// registration destroyed while its last work ends.
struct DeliveryQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<SessionWork> work;
    bool busy = false;
    bool finishing = false;
};

// A thread that does a registration's fed work in the order it was fed.
class DeliveryThread {
public:
    DeliveryThread() : thread_([queue = queue_] { run(*queue); }) {}
    ~DeliveryThread() { finish(); }
    DeliveryThread(const DeliveryThread&) = delete;
    DeliveryThread& operator=(const DeliveryThread&) = delete;

    [[nodiscard]] bool onThisThread() const { return std::this_thread::get_id() == threadId_; }

    // Waits while the queue is full. Work fed from a delivery itself is done at once: the
    // thread cannot wait for itself.
    void post(SessionWork work)
    {
        if (onThisThread()) {
            work();
            return;
        }
        std::unique_lock lock(queue_->mutex);
        queue_->changed.wait(lock, [&] { return queue_->work.size() < kQueuedWorkLimit || queue_->finishing; });
        if (queue_->finishing) {
            return;
        }
        queue_->work.push_back(std::move(work));
        queue_->changed.notify_all();
    }

    // Returns once everything fed so far is done.
    void waitUntilDone()
    {
        if (onThisThread()) {
            return;
        }
        std::unique_lock lock(queue_->mutex);
        queue_->changed.wait(lock, [&] { return queue_->work.empty() && !queue_->busy; });
    }

    // Does what is queued and ends the thread. From a delivery itself (a callback that clears
    // its own registration) the queue is dropped instead and the thread ends after it.
    void finish()
    {
        if (!thread_.joinable()) {
            return;
        }
        std::deque<SessionWork> dropped;
        {
            const std::lock_guard lock(queue_->mutex);
            queue_->finishing = true;
            if (onThisThread()) {
                dropped.swap(queue_->work);
            }
            queue_->changed.notify_all();
        }
        if (onThisThread()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }

private:
    static void run(DeliveryQueue& queue)
    {
        std::unique_lock lock(queue.mutex);
        for (;;) {
            queue.changed.wait(lock, [&] { return !queue.work.empty() || queue.finishing; });
            if (queue.work.empty()) {
                return;
            }
            SessionWork work = std::move(queue.work.front());
            queue.work.pop_front();
            queue.busy = true;
            lock.unlock();
            work();
            // The work may hold the last reference to its registration, which then ends here.
            work = nullptr;
            lock.lock();
            queue.busy = false;
            queue.changed.notify_all();
        }
    }

    std::shared_ptr<DeliveryQueue> queue_ = std::make_shared<DeliveryQueue>();
    std::thread thread_;
    std::thread::id threadId_ = thread_.get_id();
};

struct Registration {
    explicit Registration(const VexiloObserverRegistration& record)
        : session(vexilo::hevc::EventSink(record.callback, record.opaque, record.eventMask))
    {
    }
    // Recursive: a callback may clear its own registration from inside a delivery.
    std::recursive_mutex mutex;
    std::atomic<bool> cleared{false};
    vexilo::hevc::ObserverSession session;
    // The tokens handed out so far; with a delivery thread they are handed out before the
    // session has seen their packets.
    std::int64_t packetTokens = 0;
    // Set once, by the feeding thread, before it feeds anything to be delivered beside it.
    std::unique_ptr<DeliveryThread> delivery;
};

std::mutex registryMutex;
std::unordered_map<const AVCodecContext*, std::shared_ptr<Registration>>& registry()
{
    static std::unordered_map<const AVCodecContext*, std::shared_ptr<Registration>> registrations;
    return registrations;
}

std::shared_ptr<Registration> findRegistration(const AVCodecContext* context)
{
    if (context == nullptr) {
        return nullptr;
    }
    const std::lock_guard lock(registryMutex);
    const auto found = registry().find(context);
    return found == registry().end() ? nullptr : found->second;
}

// Nothing may escape into the decoding loop: a session that threw says so to its receiver
// and reports no more.
void failSession(vexilo::hevc::ObserverSession& session, const char* reason) noexcept
{
    try {
        session.fail(reason);
    } catch (...) {
        session.sink().stop();
    }
}

// Runs `work` on the registration's session unless the registration is cleared.
template <typename Work>
void runOnSession(Registration& registration, Work&& work)
{
    const std::lock_guard lock(registration.mutex);
    if (registration.cleared.load()) {
        return;
    }
    try {
        work(registration.session);
    } catch (const std::exception& error) {
        failSession(registration.session, error.what());
    } catch (...) {
        failSession(registration.session, "unknown exception");
    }
}

// Runs `work` on the registration's session now, or queues it for its delivery thread.
// Whatever `work` reads of the caller's objects must be copied into it.
template <typename Work>
void deliverTo(std::shared_ptr<Registration> registration, Work work)
{
    if (!registration || registration->cleared.load()) {
        return;
    }
    if (!registration->delivery) {
        runOnSession(*registration, work);
        return;
    }
    DeliveryThread& delivery = *registration->delivery;
    delivery.post([registration = std::move(registration), work = std::move(work)]() mutable {
        runOnSession(*registration, work);
    });
}

template <typename Work>
void deliver(const AVCodecContext* context, Work work)
{
    deliverTo(findRegistration(context), std::move(work));
}

// Nothing may escape into the decoding loop either when fed work cannot be copied or queued
// (no memory for it): the session fails at once, on the feeding thread, and says so.
template <typename Feed>
void guardFeed(const AVCodecContext* context, Feed&& feed) noexcept
{
    try {
        feed();
    } catch (...) {
        if (const std::shared_ptr<Registration> registration = findRegistration(context)) {
            runOnSession(*registration, [](vexilo::hevc::ObserverSession& session) {
                failSession(session, "observer work could not be queued");
            });
        }
    }
}

// What was fed before is delivered first; nothing is delivered after this returns.
void stopRegistration(const std::shared_ptr<Registration>& registration)
{
    if (registration->delivery) {
        registration->delivery->finish();
    }
    const std::lock_guard lock(registration->mutex);
    registration->cleared.store(true);
    registration->session.sink().stop();
}

std::span<const std::uint8_t> bytesOf(const std::uint8_t* data, int size)
{
    if (data == nullptr || size <= 0) {
        return {};
    }
    return {data, static_cast<std::size_t>(size)};
}

std::vector<std::uint8_t> copyOf(std::span<const std::uint8_t> bytes)
{
    return {bytes.begin(), bytes.end()};
}

} // namespace

extern "C" int av_vexilo_set_observer(AVCodecContext* context, const VexiloObserverRegistration* registration)
{
    if (context == nullptr || registration == nullptr || registration->size < VEXILO_OBSERVER_REGISTRATION_SIZE ||
        registration->abiVersion != VEXILO_OBSERVER_ABI_VERSION || registration->callback == nullptr) {
        return VEXILO_OBSERVER_RESULT_INVALID_ARGUMENT;
    }
    std::shared_ptr<Registration> replaced;
    try {
        auto created = std::make_shared<Registration>(*registration);
        const std::lock_guard lock(registryMutex);
        auto& slot = registry()[context];
        replaced = std::move(slot);
        slot = std::move(created);
    } catch (...) {
        return VEXILO_OBSERVER_RESULT_FATAL;
    }
    if (replaced) {
        stopRegistration(replaced);
    }
    return VEXILO_OBSERVER_RESULT_OK;
}

extern "C" int av_vexilo_clear_observer(AVCodecContext* context)
{
    if (context == nullptr) {
        return VEXILO_OBSERVER_RESULT_INVALID_ARGUMENT;
    }
    std::shared_ptr<Registration> removed;
    {
        const std::lock_guard lock(registryMutex);
        const auto found = registry().find(context);
        if (found == registry().end()) {
            return VEXILO_OBSERVER_RESULT_OK;
        }
        removed = std::move(found->second);
        registry().erase(found);
    }
    stopRegistration(removed);
    return VEXILO_OBSERVER_RESULT_OK;
}

namespace vexilo::hevc_observer {

void deliverOnOwnThread(AVCodecContext* context)
{
    const std::shared_ptr<Registration> registration = findRegistration(context);
    if (registration && !registration->delivery) {
        try {
            registration->delivery = std::make_unique<DeliveryThread>();
        } catch (...) {
            // Without a thread of its own the registration delivers on the calling thread.
        }
    }
}

void waitForDelivery(AVCodecContext* context)
{
    const std::shared_ptr<Registration> registration = findRegistration(context);
    if (registration && registration->delivery) {
        registration->delivery->waitUntilDone();
    }
}

void feedExtradata(AVCodecContext* context)
{
    guardFeed(context, [&] {
        deliver(context, [extradata = copyOf(bytesOf(context->extradata, context->extradata_size))](
                             hevc::ObserverSession& session) { session.feedExtradata(extradata); });
    });
}

std::int64_t feedPacket(AVCodecContext* context, const AVPacket* packet, std::int64_t fileBytePosition)
{
    if (packet == nullptr) {
        return 0;
    }
    const std::shared_ptr<Registration> registration = findRegistration(context);
    if (!registration || registration->cleared.load()) {
        return 0;
    }
    hevc::PacketStamp stamp;
    if (fileBytePosition >= 0) {
        stamp.filePosition = static_cast<std::uint64_t>(fileBytePosition);
    }
    stamp.pts = packet->pts;
    stamp.dts = packet->dts;
    const std::span<const std::uint8_t> bytes = bytesOf(packet->data, packet->size);
    if (!registration->delivery) {
        std::int64_t token = 0;
        runOnSession(*registration,
                     [&](hevc::ObserverSession& session) { token = session.feedPacket(bytes, stamp); });
        if (token != 0) {
            registration->packetTokens = token;
        }
        return token;
    }
    // The session numbers the packets it is fed from one, as this does.
    const std::int64_t token = ++registration->packetTokens;
    guardFeed(context, [&] {
        deliverTo(registration, [bytes = copyOf(bytes), stamp](hevc::ObserverSession& session) {
            session.feedPacket(bytes, stamp);
        });
    });
    return token;
}

void feedFrame(AVCodecContext* context, const AVFrame* frame, std::int64_t displayIndex)
{
    if (frame == nullptr) {
        return;
    }
    guardFeed(context, [&] {
        // The frame's pkt_dts is not used: FFmpeg stamps it with the packet whose send let the
        // frame out, not the one that carried the picture, whose DTS the session keeps.
        deliver(context, [token = vexilo::ffmpeg::packetTokenOf(*frame), displayIndex, pts = frame->pts,
                          width = frame->width > 0 ? static_cast<std::uint32_t>(frame->width) : 0U,
                          height = frame->height > 0 ? static_cast<std::uint32_t>(frame->height) : 0U](
                             hevc::ObserverSession& session) {
            session.feedFrame(token, displayIndex, pts, width, height);
        });
    });
}

void resumeAt(AVCodecContext* context, const ResumePoint& point)
{
    guardFeed(context, [&] { deliver(context, [point](hevc::ObserverSession& session) { session.resumeAt(point); }); });
}

void feedFlush(AVCodecContext* context)
{
    guardFeed(context, [&] { deliver(context, [](hevc::ObserverSession& session) { session.feedFlush(); }); });
}

} // namespace vexilo::hevc_observer
