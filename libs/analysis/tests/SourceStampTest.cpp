#include "vexilo/analysis/cache/SourceStamp.h"

#include "CacheTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

namespace vexilo::analysis {
namespace {

using cachetest::ScratchDirectory;

constexpr const char* kFingerprint = "sha256:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::filesystem::path writeSource(const std::filesystem::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

void appendByte(const std::filesystem::path& path)
{
    std::ofstream(path, std::ios::binary | std::ios::app) << 'x';
}

TEST(SourceStampTest, AStampOfAnUnchangedFileGivesItsFingerprintBack)
{
    ScratchDirectory scratch;
    const auto source = writeSource(scratch.path() / "clip.hevc", "twelve bytes");
    SourceStamp stamp = statSourceFile(source).value();
    EXPECT_EQ(stamp.sizeBytes, 12U);
    stamp.sourceFingerprint = kFingerprint;
    ASSERT_FALSE(writeSourceStamp(scratch.path(), stamp));

    const std::optional<SourceStamp> read = readSourceStamp(scratch.path());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->sizeBytes, stamp.sizeBytes);
    EXPECT_EQ(read->modifiedNanoseconds, stamp.modifiedNanoseconds);
    EXPECT_EQ(read->sourceFingerprint, kFingerprint);
    EXPECT_EQ(stampedFingerprintIfUnchanged(scratch.path(), source), std::optional<std::string>(kFingerprint));
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "source.stamp.tmp"));
}

TEST(SourceStampTest, AChangedMissingOrUnstampedSourceHasNoFingerprint)
{
    ScratchDirectory scratch;
    const auto source = writeSource(scratch.path() / "clip.hevc", "content");
    EXPECT_FALSE(stampedFingerprintIfUnchanged(scratch.path(), source)) << "no stamp yet";

    SourceStamp stamp = statSourceFile(source).value();
    stamp.sourceFingerprint = kFingerprint;
    ASSERT_FALSE(writeSourceStamp(scratch.path(), stamp));

    // Same size, other time: a file rewritten in place.
    std::filesystem::last_write_time(source, std::filesystem::last_write_time(source) + std::chrono::seconds(5));
    EXPECT_FALSE(stampedFingerprintIfUnchanged(scratch.path(), source));

    writeSource(source, "content");
    stamp = statSourceFile(source).value();
    stamp.sourceFingerprint = kFingerprint;
    ASSERT_FALSE(writeSourceStamp(scratch.path(), stamp));
    appendByte(source);
    std::filesystem::last_write_time(source, std::filesystem::file_time_type(
                                                 std::chrono::nanoseconds(stamp.modifiedNanoseconds)));
    EXPECT_FALSE(stampedFingerprintIfUnchanged(scratch.path(), source)) << "one byte longer, same time";

    std::filesystem::remove(source);
    EXPECT_FALSE(stampedFingerprintIfUnchanged(scratch.path(), source));
}

TEST(SourceStampTest, DamagedStampsAreNotTrusted)
{
    ScratchDirectory scratch;
    const auto source = writeSource(scratch.path() / "clip.hevc", "content");
    const SourceStamp now = statSourceFile(source).value();
    const std::string size = std::to_string(now.sizeBytes);
    const std::string time = std::to_string(now.modifiedNanoseconds);
    const std::string good = "VexiloSourceStamp 1\nsize " + size + "\nmodified_ns " + time +
                             "\nsource_fingerprint " + kFingerprint + "\n";
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"cut short", good.substr(0, good.size() - 20)},
        {"another version", "VexiloSourceStamp 2" + good.substr(19)},
        {"size not a number", "VexiloSourceStamp 1\nsize 7x\nmodified_ns " + time + "\nsource_fingerprint a\n"},
        {"trailing text", good + "more\n"},
        {"empty fingerprint", "VexiloSourceStamp 1\nsize " + size + "\nmodified_ns " + time + "\nsource_fingerprint \n"},
    };
    writeSource(scratch.path() / "source.stamp", good);
    ASSERT_TRUE(stampedFingerprintIfUnchanged(scratch.path(), source)) << "the well-formed text is accepted";
    for (const auto& damaged : cases) {
        writeSource(scratch.path() / "source.stamp", damaged.text);
        EXPECT_FALSE(stampedFingerprintIfUnchanged(scratch.path(), source)) << damaged.what;
    }
}

}  // namespace
}  // namespace vexilo::analysis
