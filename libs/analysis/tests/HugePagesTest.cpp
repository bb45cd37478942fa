#include "vexilo/analysis/HugePages.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdint>
#include <filesystem>
#include <numeric>
#include <vector>

namespace vexilo::analysis {
namespace {

// Anonymous memory of the given size, unmapped at the end of the test.
class Mapping {
public:
    explicit Mapping(std::size_t bytes)
        : bytes_(bytes), data_(mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))
    {
    }
    ~Mapping()
    {
        if (data_ != MAP_FAILED) {
            munmap(data_, bytes_);
        }
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    [[nodiscard]] bool valid() const { return data_ != MAP_FAILED; }
    [[nodiscard]] std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(data_); }

private:
    std::size_t bytes_;
    void* data_;
};

bool systemHasHugePages()
{
    return std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled");
}

TEST(HugePagesTest, AdviceCoversOnlyWholeHugePagesAndFailsHarmlessly)
{
    Mapping mapping(4 * kHugePageBytes);
    ASSERT_TRUE(mapping.valid());
    // Less than one whole aligned huge page: nothing to ask for.
    EXPECT_FALSE(adviseHugePages(mapping.bytes() + 1, kHugePageBytes));
    EXPECT_FALSE(adviseHugePages(mapping.bytes(), 0));
    if (systemHasHugePages()) {
        // Three bytes short of the end still hold at least one aligned huge page.
        EXPECT_TRUE(adviseHugePages(mapping.bytes() + 3, 4 * kHugePageBytes - 3));
    }
    // Advised or not, the memory reads and writes the same.
    mapping.bytes()[0] = 7;
    mapping.bytes()[4 * kHugePageBytes - 1] = 9;
    EXPECT_EQ(mapping.bytes()[0] + mapping.bytes()[4 * kHugePageBytes - 1], 16);
}

TEST(HugePagesTest, ReserveKeepsValuesWhetherLargeOrSmall)
{
    for (const std::size_t count : {std::size_t{10}, kHugePageAdviceThreshold}) {
        std::vector<std::uint32_t> values(5);
        std::iota(values.begin(), values.end(), 1U);
        reserveOnHugePages(values, count);
        EXPECT_GE(values.capacity(), count);
        EXPECT_EQ(values, (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
        values.resize(count, 42);
        EXPECT_EQ(values.back(), 42U);
        // A smaller request leaves the room as it is.
        const std::uint32_t* data = values.data();
        reserveOnHugePages(values, 3);
        EXPECT_EQ(values.data(), data);
    }
}

}  // namespace
}  // namespace vexilo::analysis
