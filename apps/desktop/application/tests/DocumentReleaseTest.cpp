// Shared documents are freed on a thread of their own. None of that may still run once the
// program exits: LeakSanitizer stops every thread then to scan its memory, and a thread freeing
// a long stream's documents meanwhile is what it trips over.

#include "DocumentRelease.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>

namespace vexilo::application {
namespace {

bool releaseThreadRuns()
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "vexiloRelease") {
            return true;
        }
    }
    return false;
}

analysis::StreamAnalysis documentWithPictures(int count)
{
    analysis::StreamAnalysis document;
    document.pictures.resize(static_cast<std::size_t>(count));
    return document;
}

// Registered before the first document starts the release thread, so it runs after that
// thread's own exit step. A document let go of this late is freed where it is let go of.
void reportReleaseThreadAtExit()
{
    std::ignore = shareDocument(documentWithPictures(8));
    std::_Exit(releaseThreadRuns() ? 1 : 0);
}

void shareDropAndExit()
{
    std::atexit(reportReleaseThreadAtExit);
    for (int k = 0; k < 64; ++k) {
        std::ignore = shareDocument(documentWithPictures(4096));
    }
    returnFreedMemoryAfterReleases();
    std::exit(releaseThreadRuns() ? 0 : 2);
}

TEST(DocumentReleaseDeathTest, TheReleaseThreadFreesWhatIsQueuedAndIsJoinedWhenTheProgramExits)
{
    // A fresh process, so that this test starts the release thread itself.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(shareDropAndExit(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vexilo::application
