// The observer's C entry points and the feed calls of the pipeline. Registrations are kept
// per codec context; each has its own lock, held while its events are delivered, so that
// av_vexilo_clear_observer returns only when no delivery is running any more.
#include "observer_session.h"

#include <vexilo/ffmpeg_handles/PacketIdentityCarrier.h>
#include <vexilo/hevc_observer/observer_abi.h>
#include <vexilo/hevc_observer/observer_feed.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct Registration {
    explicit Registration(const VexiloObserverRegistration& record)
        : session(vexilo::hevc::EventSink(record.callback, record.opaque, record.eventMask))
    {
    }
    // Recursive: a callback may clear its own registration from inside a delivery.
    std::recursive_mutex mutex;
    std::atomic<bool> cleared{false};
    vexilo::hevc::ObserverSession session;
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

// Runs `work` on the context's session unless the registration is gone.
template <typename Work>
void withSession(const AVCodecContext* context, Work&& work)
{
    const std::shared_ptr<Registration> registration = findRegistration(context);
    if (!registration) {
        return;
    }
    const std::lock_guard lock(registration->mutex);
    if (registration->cleared.load()) {
        return;
    }
    try {
        work(registration->session);
    } catch (const std::exception& error) {
        failSession(registration->session, error.what());
    } catch (...) {
        failSession(registration->session, "unknown exception");
    }
}

void stopRegistration(const std::shared_ptr<Registration>& registration)
{
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

void feedExtradata(AVCodecContext* context)
{
    withSession(context, [&](hevc::ObserverSession& session) {
        session.feedExtradata(bytesOf(context->extradata, context->extradata_size));
    });
}

std::int64_t feedPacket(AVCodecContext* context, const AVPacket* packet, std::int64_t fileBytePosition)
{
    std::int64_t token = 0;
    if (packet == nullptr) {
        return token;
    }
    withSession(context, [&](hevc::ObserverSession& session) {
        hevc::PacketStamp stamp;
        if (fileBytePosition >= 0) {
            stamp.filePosition = static_cast<std::uint64_t>(fileBytePosition);
        }
        stamp.pts = packet->pts;
        stamp.dts = packet->dts;
        token = session.feedPacket(bytesOf(packet->data, packet->size), stamp);
    });
    return token;
}

void feedFrame(AVCodecContext* context, const AVFrame* frame, std::int64_t displayIndex)
{
    if (frame == nullptr) {
        return;
    }
    withSession(context, [&](hevc::ObserverSession& session) {
        session.feedFrame(vexilo::ffmpeg::packetTokenOf(*frame), displayIndex, frame->pts, frame->pkt_dts,
                          frame->width > 0 ? static_cast<std::uint32_t>(frame->width) : 0U,
                          frame->height > 0 ? static_cast<std::uint32_t>(frame->height) : 0U);
    });
}

void feedFlush(AVCodecContext* context)
{
    withSession(context, [](hevc::ObserverSession& session) { session.feedFlush(); });
}

} // namespace vexilo::hevc_observer
