#include "app/WorkerArguments.h"

#include <gtest/gtest.h>

namespace vexilo::analyzer {
namespace {

TEST(WorkerArguments, LaterOccurrencesReplaceEarlierOnes)
{
    const std::optional<WorkerArguments> parsed = parseWorkerArguments(
        {"worker", "--parent-pid", "5", "--frame-channel", "first", "--frame-channel", "second", "--parent-pid", "7"});
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->parentPid, 7);
    EXPECT_EQ(parsed->frameChannel, QStringLiteral("second"));
}

TEST(WorkerArguments, FrameChannelIsOptional)
{
    const std::optional<WorkerArguments> parsed = parseWorkerArguments({"worker", "--parent-pid", "+12"});
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->parentPid, 12);
    EXPECT_TRUE(parsed->frameChannel.isEmpty());
}

TEST(WorkerArguments, PingOnlyAlone)
{
    EXPECT_TRUE(isPingCommandLine({"worker", "--ping"}));
    EXPECT_FALSE(isPingCommandLine({"worker", "--ping", "--parent-pid", "1"}));
    EXPECT_FALSE(parseWorkerArguments({"worker", "--ping"}).has_value());
}

}  // namespace
}  // namespace vexilo::analyzer
