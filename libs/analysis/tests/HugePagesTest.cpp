#include "vexilo/analysis/HugePages.h"

#include "WorkBeside.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <numeric>
#include <thread>
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

// How many pages of [data, data + bytes) are in memory.
std::size_t residentPages(void* data, std::size_t bytes)
{
    const auto pageBytes = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((bytes + pageBytes - 1) / pageBytes);
    if (mincore(data, bytes, resident.data()) != 0) {
        return 0;
    }
    return static_cast<std::size_t>(std::count_if(resident.begin(), resident.end(), [](unsigned char page) {
        return (page & 1U) != 0;
    }));
}

TEST(HugePagesTest, PagesFaultedBesideAWriterKeepWhatItWrites)
{
    constexpr std::size_t kValues = (std::size_t{96} << 20) / sizeof(std::uint64_t);
    std::vector<std::uint64_t> first;
    std::vector<std::uint64_t> second;
    first.reserve(kValues / 2);
    second.reserve(kValues / 2);
    const PagesFaultedBeside pages({unwrittenRoomOf(first), unwrittenRoomOf(second)});
    for (std::uint64_t value = 0; value < kValues / 2; ++value) {
        first.push_back(value);
        second.push_back(~value);
    }
    for (std::uint64_t value = 0; value < kValues / 2; value += 4093) {
        ASSERT_EQ(first[value], value);
        ASSERT_EQ(second[value], ~value);
    }
}

TEST(HugePagesTest, PagesFaultedBesideAreInMemoryBeforeTheyAreWritten)
{
    constexpr std::size_t kBytes = std::size_t{80} << 20;
    Mapping mapping(kBytes);
    ASSERT_TRUE(mapping.valid());
    ASSERT_EQ(residentPages(mapping.bytes(), kBytes), 0U);
    if (madvise(mapping.bytes(), 1, MADV_POPULATE_WRITE) != 0) {
        GTEST_SKIP() << "this kernel cannot fault pages in on request";
    }
    if (usableCores() == 1) {
        GTEST_SKIP() << "one core: the writer faults its own pages, with no thread beside it";
    }
    const auto pageBytes = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    {
        const PagesFaultedBeside pages({{mapping.bytes(), kBytes}});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (residentPages(mapping.bytes(), kBytes) < kBytes / pageBytes &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_EQ(residentPages(mapping.bytes(), kBytes), kBytes / pageBytes);
    EXPECT_EQ(mapping.bytes()[kBytes / 2], 0) << "faulting in writes nothing";
}

TEST(HugePagesTest, SmallRoomsAreLeftToTheWriter)
{
    Mapping mapping(std::size_t{8} << 20);
    ASSERT_TRUE(mapping.valid());
    {
        const PagesFaultedBeside pages({{mapping.bytes(), std::size_t{8} << 20}});
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(residentPages(mapping.bytes(), std::size_t{8} << 20), 0U);
}

}  // namespace
}  // namespace vexilo::analysis
