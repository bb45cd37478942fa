// The mailbox that carries background results to its owner thread: everything arrives, on the
// owner thread, in each sender's order, and nothing runs after the mailbox is gone.

#include "vexilo/threading/ThreadMailbox.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace vexilo::threading {
namespace {

constexpr int kSenders = 4;
constexpr int kPostsPerSender = 500;
constexpr int kWaitMs = 30000;

struct Delivery {
    int sender = 0;
    int sequence = 0;
    bool onGuiThread = false;
};

TEST(ThreadMailboxTest, DeliversEveryPostOnTheGuiThreadInEachSendersOrder)
{
    ThreadMailbox mailbox;
    QThread* guiThread = QCoreApplication::instance()->thread();
    std::vector<Delivery> delivered;
    {
        std::vector<std::jthread> senders;
        for (int sender = 0; sender < kSenders; ++sender) {
            senders.emplace_back([&mailbox, &delivered, guiThread, sender] {
                for (int sequence = 0; sequence < kPostsPerSender; ++sequence) {
                    // Some posts wake the GUI thread, most join a wake-up already on its way.
                    auto payload = std::make_shared<std::vector<int>>(64, sequence);
                    mailbox.post([&delivered, guiThread, sender, payload] {
                        delivered.push_back({sender, payload->back(), QThread::currentThread() == guiThread});
                    });
                }
            });
        }
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return delivered.size() == kSenders * kPostsPerSender; }, kWaitMs))
        << delivered.size();

    std::map<int, int> nextSequence;
    for (const Delivery& delivery : delivered) {
        EXPECT_TRUE(delivery.onGuiThread);
        EXPECT_EQ(delivery.sequence, nextSequence[delivery.sender]++) << "sender " << delivery.sender;
    }

    // A post after the queue ran dry wakes the GUI thread again.
    bool late = false;
    std::jthread([&mailbox, &late] { mailbox.post([&late] { late = true; }); }).join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return late; }, kWaitMs));
}

TEST(ThreadMailboxTest, PostsStillPendingWhenTheMailboxGoesNeverRun)
{
    auto ran = std::make_shared<bool>(false);
    {
        ThreadMailbox mailbox;
        std::jthread([&mailbox, ran] { mailbox.post([ran] { *ran = true; }); }).join();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(*ran);
}

}  // namespace
}  // namespace vexilo::threading
