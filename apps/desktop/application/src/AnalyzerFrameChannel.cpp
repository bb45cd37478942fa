#include "AnalyzerFrameChannel.h"

#include "vexilo/application/AnalyzerFramePacketReader.h"
#include "vexilo/threading/ThreadMailbox.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace vexilo::application {

struct QueuedFrameItem {
    FrameChannelItem item;
    std::uint64_t bytes = 0;  // the packet's size on the wire, counted against the limit
};

// What both threads touch, always under the mutex.
struct FrameChannelShared {
    explicit FrameChannelShared(std::uint64_t limit) : maxUndeliveredBytes(limit) {}

    const std::uint64_t maxUndeliveredBytes;
    std::mutex mutex;
    // Advanced whenever what was read so far went stale; a connection accepted under an older
    // value is read to its end and dropped.
    std::uint64_t generation = 0;
    std::deque<QueuedFrameItem> queue;
    std::uint64_t queuedBytes = 0;
    bool announced = false;      // the owner was told and has not found the queue empty since
    bool readerStalled = false;  // the reader stopped at the limit until the owner takes items
};

// Raised once by one thread and awaited by another, under a standard mutex: Qt's own semaphores
// and blocking queued calls wait on futexes inside uninstrumented Qt, so ThreadSanitizer would
// see nothing ordering what was written before the raise and read after the wait.
class OneTimeSignal {
public:
    // Notifies under the lock: the waiter may destroy this signal as soon as it sees the flag.
    void raise()
    {
        const std::lock_guard lock(mutex_);
        raised_ = true;
        raisedChanged_.notify_all();
    }

    [[nodiscard]] bool waitFor(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return raisedChanged_.wait_for(lock, limit, [this] { return raised_; });
    }

    void wait()
    {
        std::unique_lock lock(mutex_);
        raisedChanged_.wait(lock, [this] { return raised_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable raisedChanged_;
    bool raised_ = false;
};

// One request of the owner to read what the socket holds; the owner may stop waiting before the
// reader is done with it.
struct FrameReadRequest {
    OneTimeSignal done;
    std::atomic<bool> moreWaiting = false;
    std::atomic<bool> abandoned = false;
};

namespace {

// The server and its one connection; lives and dies on the reader thread.
class FrameChannelReader {
public:
    FrameChannelReader(FrameChannelShared& shared, std::function<void()> announce)
        : shared_(shared), announce_(std::move(announce))
    {
        QObject::connect(&server_, &QLocalServer::newConnection, &context_, [this] { acceptConnections(); });
    }

    ~FrameChannelReader()
    {
        // The socket would report its own abort into a half-destroyed reader.
        if (socket_ != nullptr) {
            socket_->disconnect(&context_);
            delete socket_;
        }
        server_.close();
    }

    FrameChannelReader(const FrameChannelReader&) = delete;
    FrameChannelReader& operator=(const FrameChannelReader&) = delete;

    QString listen(const QString& name) { return server_.listen(name) ? QString() : server_.errorString(); }

    // Reads every byte the socket holds now and tells whether it stopped at the limit with bytes
    // left. A connection still waiting to be accepted is left to the server's own notice first:
    // accepting it here would leave that notice to wait in accept() on its blocking socket for ever.
    void readNow(const std::shared_ptr<FrameReadRequest>& request)
    {
        if (connectionWaiting()) {
            if (!request->abandoned) {
                QMetaObject::invokeMethod(&context_, [this, request] { readNow(request); }, Qt::QueuedConnection);
            }
            return;
        }
        bool stalled = readAvailable();
        while (!stalled && socket_ != nullptr && socket_->waitForReadyRead(0)) {
            stalled = readAvailable();
        }
        request->moreWaiting = stalled || (socket_ != nullptr && socket_->bytesAvailable() > 0);
        request->done.raise();
    }

    void resume()
    {
        readAvailable();
        forgetClosedSocketOnceRead();
    }

private:
    [[nodiscard]] bool connectionWaiting() const
    {
        const qintptr descriptor = server_.socketDescriptor();
        if (descriptor < 0) {
            return false;
        }
        pollfd listening{static_cast<int>(descriptor), POLLIN, 0};
        return ::poll(&listening, 1, 0) > 0 && (listening.revents & POLLIN) != 0;
    }

    // One connection at a time: the worker opens one per task and closes it before the task's end.
    void acceptConnections()
    {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            if (socket_ != nullptr) {
                socket->disconnectFromServer();
                socket->deleteLater();
                continue;
            }
            adopt(socket);
        }
    }

    void adopt(QLocalSocket* socket)
    {
        socket_ = socket;
        socketClosed_ = false;
        socketBroken_ = false;
        buffer_.clear();
        {
            const std::lock_guard lock(shared_.mutex);
            socketGeneration_ = shared_.generation;
        }
        socket->setReadBufferSize(kFrameChannelReadChunkBytes);
        QObject::connect(socket, &QLocalSocket::readyRead, &context_, [this] { readAvailable(); });
        QObject::connect(socket, &QLocalSocket::disconnected, &context_, [this, socket] {
            if (socket == socket_) {
                socketClosed_ = true;  // what it holds still counts
                resume();
            }
        });
        readAvailable();
    }

    void forgetClosedSocketOnceRead()
    {
        if (socket_ == nullptr || !socketClosed_ || socket_->bytesAvailable() > 0) {
            return;
        }
        socket_->disconnect(&context_);
        socket_->deleteLater();
        socket_ = nullptr;
        buffer_.clear();  // a packet cut off by the close is nobody's
    }

    bool readAvailable()
    {
        while (socket_ != nullptr && socket_->bytesAvailable() > 0) {
            const std::optional<std::uint64_t> generation = admitRead();
            if (!generation) {
                return true;
            }
            const QByteArray chunk = socket_->readAll();
            if (*generation != socketGeneration_ || socketBroken_) {
                buffer_.clear();  // stale or broken: read only so that the writer is not held up
                continue;
            }
            publish(framePackets(chunk), *generation);
        }
        return false;
    }

    // The generation the bytes about to be read belong to, or nothing at the limit.
    std::optional<std::uint64_t> admitRead()
    {
        const std::lock_guard lock(shared_.mutex);
        if (shared_.queuedBytes >= shared_.maxUndeliveredBytes) {
            shared_.readerStalled = true;
            return std::nullopt;
        }
        return shared_.generation;
    }

    std::vector<QueuedFrameItem> framePackets(const QByteArray& chunk)
    {
        std::vector<QueuedFrameItem> batch;
        buffer_.append(chunk);
        qsizetype offset = 0;
        while (offset < buffer_.size()) {
            FramePacketReadResult result = decodeAnalyzerFramePacket(QByteArrayView(buffer_).sliced(offset));
            if (const auto* failure = std::get_if<FramePacketReadFailure>(&result)) {
                if (failure->kind != FramePacketReadFailureKind::Incomplete) {
                    socketBroken_ = true;  // nothing after a broken packet can be framed
                    buffer_.clear();
                    batch.push_back({FrameChannelDefect{failure->message}, 0});
                    return batch;
                }
                break;
            }
            auto& success = std::get<FramePacketReadSuccess>(result);
            offset += static_cast<qsizetype>(success.bytesConsumed);
            batch.emplace_back().item.emplace<protocol::AnalyzerFramePacket>(std::move(success.packet));
            batch.back().bytes = success.bytesConsumed;
        }
        buffer_.remove(0, offset);
        return batch;
    }

    void publish(std::vector<QueuedFrameItem> batch, std::uint64_t generation)
    {
        if (batch.empty()) {
            return;
        }
        bool announceNow = false;
        {
            const std::lock_guard lock(shared_.mutex);
            if (shared_.generation != generation) {
                return;  // the owner dropped what these bytes belonged to while they were framed
            }
            for (QueuedFrameItem& item : batch) {
                shared_.queuedBytes += item.bytes;
                shared_.queue.push_back(std::move(item));
            }
            announceNow = !std::exchange(shared_.announced, true);
        }
        if (announceNow) {
            announce_();
        }
    }

    FrameChannelShared& shared_;
    std::function<void()> announce_;
    QObject context_;
    QLocalServer server_;
    QLocalSocket* socket_ = nullptr;
    std::uint64_t socketGeneration_ = 0;
    bool socketClosed_ = false;
    bool socketBroken_ = false;
    QByteArray buffer_;  // the head of a packet not yet complete
};

}  // namespace

// Owns the reader for the span of its event loop, so that the reader's objects are made and
// destroyed on the thread that uses them. Work for the reader crosses through a mailbox of the
// reader's thread.
class FrameChannelThread final : public QThread {
public:
    FrameChannelThread(FrameChannelShared& shared, std::function<void()> announce)
        : shared_(shared), announce_(std::move(announce))
    {
        setObjectName(QString::fromLatin1(kFrameChannelThreadName));
    }

    // Waits for the end of run() on a signal of our own before QThread's wait, whose lock lies
    // inside Qt: so everything the thread did is seen to come before what this destroys.
    ~FrameChannelThread() override
    {
        quit();
        if (started_) {
            runEnded_.wait();
        }
        wait();
    }

    FrameChannelThread(const FrameChannelThread&) = delete;
    FrameChannelThread& operator=(const FrameChannelThread&) = delete;

    // Starts the reader listening on `name`: the server's error text, or empty when listening.
    QString startReader(const QString& name)
    {
        name_ = name;
        start();
        started_ = true;
        readerMade_.wait();
        return listenError_;
    }

    // From startReader() until destruction; `work` runs on the reader's thread.
    void post(std::function<void(FrameChannelReader&)> work)
    {
        mailbox_->post([reader = reader_, work = std::move(work)] { work(*reader); });
    }

protected:
    void run() override
    {
        readAndServe();
        runEnded_.raise();
    }

private:
    void readAndServe()
    {
        FrameChannelReader reader(shared_, announce_);
        threading::ThreadMailbox mailbox;
        listenError_ = reader.listen(name_);
        reader_ = &reader;
        mailbox_ = &mailbox;
        readerMade_.raise();
        exec();
    }

    FrameChannelShared& shared_;
    std::function<void()> announce_;
    QString name_;
    QString listenError_;
    bool started_ = false;
    OneTimeSignal readerMade_;
    OneTimeSignal runEnded_;
    FrameChannelReader* reader_ = nullptr;
    threading::ThreadMailbox* mailbox_ = nullptr;
};

AnalyzerFrameChannel::AnalyzerFrameChannel(std::function<void()> itemsWaiting, std::uint64_t maxUndeliveredBytes)
    : itemsWaiting_(std::move(itemsWaiting)), shared_(std::make_unique<FrameChannelShared>(maxUndeliveredBytes))
{
}

AnalyzerFrameChannel::~AnalyzerFrameChannel()
{
    stop();
}

QString AnalyzerFrameChannel::open(const QString& name)
{
    stop();
    thread_ = std::make_unique<FrameChannelThread>(*shared_, [this] { announce(); });
    return thread_->startReader(name);
}

void AnalyzerFrameChannel::stop()
{
    thread_.reset();
    const std::lock_guard lock(shared_->mutex);
    ++shared_->generation;
    shared_->queue.clear();
    shared_->queuedBytes = 0;
    shared_->announced = false;
    shared_->readerStalled = false;
}

bool AnalyzerFrameChannel::isOpen() const
{
    return thread_ != nullptr;
}

void AnalyzerFrameChannel::dropFrames()
{
    bool stalled = false;
    {
        const std::lock_guard lock(shared_->mutex);
        ++shared_->generation;
        shared_->queue.clear();
        shared_->queuedBytes = 0;
        stalled = std::exchange(shared_->readerStalled, false);
    }
    resumeReaderIfStalled(stalled);
}

AnalyzerFrameChannel::ReadOutcome AnalyzerFrameChannel::readNow(std::chrono::milliseconds wait)
{
    if (!thread_) {
        return ReadOutcome::Done;
    }
    auto request = std::make_shared<FrameReadRequest>();
    thread_->post([request](FrameChannelReader& reader) { reader.readNow(request); });
    if (!request->done.waitFor(wait)) {
        request->abandoned = true;
        return ReadOutcome::TimedOut;
    }
    return request->moreWaiting ? ReadOutcome::MoreWaiting : ReadOutcome::Done;
}

std::optional<FrameChannelItem> AnalyzerFrameChannel::takeNext()
{
    std::unique_lock lock(shared_->mutex);
    if (shared_->queue.empty()) {
        shared_->announced = false;
        return std::nullopt;
    }
    QueuedFrameItem next = std::move(shared_->queue.front());
    shared_->queue.pop_front();
    shared_->queuedBytes -= next.bytes;
    const bool stalled = shared_->readerStalled && shared_->queuedBytes < shared_->maxUndeliveredBytes;
    if (stalled) {
        shared_->readerStalled = false;
    }
    lock.unlock();
    resumeReaderIfStalled(stalled);
    return std::move(next.item);
}

std::uint64_t AnalyzerFrameChannel::undeliveredBytes() const
{
    const std::lock_guard lock(shared_->mutex);
    return shared_->queuedBytes;
}

// Runs on the reader thread.
void AnalyzerFrameChannel::announce()
{
    ownerMailbox_.post([this] { itemsWaiting_(); });
}

void AnalyzerFrameChannel::resumeReaderIfStalled(bool stalled)
{
    if (!stalled || !thread_) {
        return;
    }
    thread_->post([](FrameChannelReader& reader) { reader.resume(); });
}

}  // namespace vexilo::application
