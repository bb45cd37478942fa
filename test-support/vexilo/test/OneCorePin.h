#pragma once

#include <gtest/gtest.h>

#include <sched.h>

#include <cstddef>

namespace vexilo::test {

// Holds the calling thread, and the threads it starts meanwhile, to the first core it may use,
// for as long as the pin lives: work that would spread over cores sees none beside it.
class OneCorePin {
public:
    OneCorePin()
    {
        CPU_ZERO(&before_);
        EXPECT_EQ(sched_getaffinity(0, sizeof before_, &before_), 0);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (std::size_t core = 0; core < CPU_SETSIZE; ++core) {
            if (CPU_ISSET(core, &before_)) {
                CPU_SET(core, &one);
                break;
            }
        }
        EXPECT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    }
    ~OneCorePin() { EXPECT_EQ(sched_setaffinity(0, sizeof before_, &before_), 0); }
    OneCorePin(const OneCorePin&) = delete;
    OneCorePin& operator=(const OneCorePin&) = delete;

private:
    cpu_set_t before_;
};

}  // namespace vexilo::test
