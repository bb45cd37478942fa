#include "vexilo/analysis/cache/CacheContainer.h"

#include "CacheTestSupport.h"
#include "cache/CacheOutput.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>

namespace vexilo::analysis {
namespace {

using cachetest::errorOf;
using cachetest::expectError;
using cachetest::readBytes;
using cachetest::ScratchDirectory;
using cachetest::valueOf;
using cachetest::writeBytes;
using Kind = CacheErrorKind;

std::vector<std::uint8_t> containerImage(std::uint64_t magic, std::string_view payloadText)
{
    const auto payload = asBytes(payloadText);
    CacheContainerHeader header;
    header.magic = magic;
    header.storedSize = payload.size();
    header.uncompressedSize = payload.size();
    header.checksum = fnv1a64(payload);
    const auto encoded = encodeCacheContainerHeader(header);
    // Built as text: GCC 12 at -O2 misreads a vector's copy of the empty payload as a null write.
    std::string image(reinterpret_cast<const char*>(encoded.data()), encoded.size());
    image += payloadText;
    return {image.begin(), image.end()};
}

template <typename Unsigned>
void poke(std::vector<std::uint8_t>& image, std::size_t offset, Unsigned value)
{
    for (std::size_t index = 0; index < sizeof(Unsigned); ++index) {
        image[offset + index] =
            static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * index));
    }
}

TEST(CacheChecksumTest, MatchesKnownFnv1a64Values)
{
    EXPECT_EQ(fnv1a64(std::string_view{}), 0xcbf29ce484222325ULL);
    EXPECT_EQ(fnv1a64(std::string_view{"a"}), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(fnv1a64(std::string_view{"foobar"}), 0x85944171f73967e8ULL);
}

// Payloads checksummed side by side: counts that fill no lane set, one, and more than one,
// lengths that end before, with and after the others (the empty one included).
TEST(CacheChecksumTest, PayloadsTakenTogetherGetTheirOwnChecksums)
{
    std::vector<std::vector<std::uint8_t>> payloads;
    for (std::size_t length : {7U, 0U, 300U, 1U, 64U, 299U, 5U, 1000U, 2U}) {
        std::vector<std::uint8_t> payload(length);
        for (std::size_t at = 0; at < length; ++at) {
            payload[at] = static_cast<std::uint8_t>(at * 31U + length);
        }
        payloads.push_back(std::move(payload));
    }
    for (std::size_t count = 1; count <= payloads.size(); ++count) {
        const std::vector<std::span<const std::uint8_t>> spans(payloads.begin(),
                                                               payloads.begin() + static_cast<std::ptrdiff_t>(count));
        std::vector<std::uint64_t> checksums(count, 0);
        fnv1a64Each(spans, checksums);
        for (std::size_t index = 0; index < count; ++index) {
            EXPECT_EQ(checksums[index], fnv1a64(spans[index])) << count << " payloads, payload " << index;
        }
    }
}

TEST(CacheContainerHeaderTest, EncodesTheLayoutLittleEndian)
{
    CacheContainerHeader header;
    header.magic = kPictureMagic;
    header.storedSize = 0x0102030405060708ULL;
    header.uncompressedSize = 0x1112131415161718ULL;
    header.checksum = 0x2122232425262728ULL;
    const auto bytes = encodeCacheContainerHeader(header);
    EXPECT_EQ(std::memcmp(bytes.data(), "VXPIC28\0", 8), 0);
    EXPECT_EQ(bytes[8], 3);
    EXPECT_EQ(bytes[12], 1);
    EXPECT_EQ(bytes[16], 1);
    EXPECT_EQ(bytes[20], 1);
    EXPECT_EQ(bytes[23], 64);
    EXPECT_EQ(bytes[24], 0);
    EXPECT_EQ(bytes[29], 0x08);
    EXPECT_EQ(bytes[36], 0x01);
    EXPECT_EQ(bytes[37], 0x18);
    EXPECT_EQ(bytes[45], 0x28);
    EXPECT_EQ(bytes[52], 0x21);
    for (std::size_t offset = 53; offset < 64; ++offset) {
        EXPECT_EQ(bytes[offset], 0) << offset;
    }
}

struct HeaderCase {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    bool accepted;
    Kind kind;
    const char* message;
};

class CacheContainerDecodeTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(CacheContainerDecodeTest, AppliesTheHeaderChecksInOrder)
{
    std::vector<std::uint8_t> image = containerImage(kManifestMagic, "0123456789");
    GetParam().damage(image);
    const auto result = decodeCacheContainer(image, kManifestMagic, "m.json");
    if (GetParam().accepted) {
        EXPECT_EQ(valueOf(result).storedSize, 10u);
        return;
    }
    const CacheError error = errorOf(result);
    expectError(error, GetParam().kind, GetParam().message);
    EXPECT_EQ(error.path, "m.json");
}

constexpr auto kVersionMessage = "cache container version is not supported by this reader";
constexpr auto kLengthMessage = "cache container length does not match header payload size";

INSTANTIATE_TEST_SUITE_P(
    Layout, CacheContainerDecodeTest,
    ::testing::Values(
        HeaderCase{"intact", [](auto&) {}, true, Kind::io_error, ""},
        HeaderCase{"63 bytes", [](auto& i) { i.resize(63); }, false, Kind::invalid_header,
                   "cache container header is truncated"},
        HeaderCase{"empty", [](auto& i) { i.clear(); }, false, Kind::invalid_header,
                   "cache container header is truncated"},
        HeaderCase{"picture magic", [](auto& i) { poke(i, 0, kPictureMagic); }, false,
                   Kind::invalid_magic, "cache container magic mismatch"},
        HeaderCase{"magic NUL byte set", [](auto& i) { i[7] = 'X'; }, false, Kind::invalid_magic,
                   "cache container magic mismatch"},
        HeaderCase{"container version 2", [](auto& i) { poke<std::uint32_t>(i, 8, 2); }, false,
                   Kind::unsupported_version, kVersionMessage},
        HeaderCase{"container version 4", [](auto& i) { poke<std::uint32_t>(i, 8, 4); }, false,
                   Kind::unsupported_version, kVersionMessage},
        HeaderCase{"schema version 2", [](auto& i) { poke<std::uint32_t>(i, 12, 2); }, false,
                   Kind::unsupported_version, kVersionMessage},
        HeaderCase{"schema version 0", [](auto& i) { poke<std::uint32_t>(i, 12, 0); }, true,
                   Kind::io_error, ""},
        HeaderCase{"minimum reader 0", [](auto& i) { poke<std::uint32_t>(i, 16, 0); }, true,
                   Kind::io_error, ""},
        HeaderCase{"minimum reader 3", [](auto& i) { poke<std::uint32_t>(i, 16, 3); }, true,
                   Kind::io_error, ""},
        HeaderCase{"minimum reader 4", [](auto& i) { poke<std::uint32_t>(i, 16, 4); }, false,
                   Kind::unsupported_version, kVersionMessage},
        HeaderCase{"big endian", [](auto& i) { i[20] = 2; }, false, Kind::unsupported_endianness,
                   "cache container endianness is not supported"},
        HeaderCase{"reserved bytes",
                   [](auto& i) {
                       i[21] = 0xff;
                       i[22] = 0x7f;
                   },
                   true, Kind::io_error, ""},
        HeaderCase{"header size 65", [](auto& i) { poke<std::uint16_t>(i, 23, 65); }, false,
                   Kind::invalid_header, "cache container header size mismatch"},
        HeaderCase{"compression flags", [](auto& i) { poke<std::uint32_t>(i, 25, 1); }, false,
                   Kind::unsupported_compression,
                   "cache container uses unsupported compression flags"},
        HeaderCase{"stored size over limit",
                   [](auto& i) { poke<std::uint64_t>(i, 29, kCacheMaxPayloadSize + 1); }, false,
                   Kind::resource_limit, "cache payload exceeds configured limit"},
        HeaderCase{"uncompressed size over limit",
                   [](auto& i) { poke<std::uint64_t>(i, 37, ~std::uint64_t{0}); }, false,
                   Kind::resource_limit, "cache payload exceeds configured limit"},
        HeaderCase{"sizes differ before the length check",
                   [](auto& i) {
                       poke<std::uint64_t>(i, 29, 10);
                       poke<std::uint64_t>(i, 37, 20);
                   },
                   false, Kind::unsupported_compression,
                   "compressed cache payloads are not supported by this build"},
        HeaderCase{"both sizes lie high",
                   [](auto& i) {
                       poke<std::uint64_t>(i, 29, 11);
                       poke<std::uint64_t>(i, 37, 11);
                   },
                   false, Kind::invalid_header, kLengthMessage},
        HeaderCase{"both sizes lie low",
                   [](auto& i) {
                       poke<std::uint64_t>(i, 29, 9);
                       poke<std::uint64_t>(i, 37, 9);
                   },
                   false, Kind::invalid_header, kLengthMessage},
        HeaderCase{"payload truncated", [](auto& i) { i.pop_back(); }, false, Kind::invalid_header,
                   kLengthMessage},
        HeaderCase{"trailing byte", [](auto& i) { i.push_back(0); }, false, Kind::invalid_header,
                   kLengthMessage},
        HeaderCase{"trailing header bytes",
                   [](auto& i) { std::fill(i.begin() + 53, i.begin() + 64, 0xee); }, true,
                   Kind::io_error, ""},
        HeaderCase{"checksum field is not decode's business", [](auto& i) { i[45] ^= 1; }, true,
                   Kind::io_error, ""}),
    cachetest::caseName<HeaderCase>);

class CacheFileTest : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    CacheWriteOptions options;
    std::optional<std::uint64_t> noBudget;

    [[nodiscard]] std::filesystem::path file(const char* name) const
    {
        return scratch.path() / name;
    }

    [[nodiscard]] std::vector<std::filesystem::path> leftovers() const
    {
        std::vector<std::filesystem::path> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path())) {
            if (entry.path().filename().string().find(".partial.") != std::string::npos) {
                names.push_back(entry.path());
            }
        }
        return names;
    }
};

TEST_F(CacheFileTest, WritesAndReadsBackAContainer)
{
    const auto target = file("sub/dir/manifest.json");
    ASSERT_FALSE(
        writeCacheContainer(target, kManifestMagic, asBytes("payload"), options, noBudget));
    EXPECT_EQ(readBytes(target), containerImage(kManifestMagic, "payload"));
    const auto contents = valueOf(readCacheFile(target, kManifestMagic));
    EXPECT_EQ(std::string(contents.payload.begin(), contents.payload.end()), "payload");
    EXPECT_EQ(contents.header.checksum, fnv1a64(std::string_view{"payload"}));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(CacheFileTest, AnEmptyPayloadIsAHeaderOnly)
{
    const auto target = file("empty.vxidx");
    ASSERT_FALSE(isCacheError(writeCacheFile(target, kIndexMagic, {}, options, noBudget)));
    EXPECT_EQ(std::filesystem::file_size(target), 64u);
    const auto contents = valueOf(readCacheFile(target, kIndexMagic));
    EXPECT_TRUE(contents.payload.empty());
    EXPECT_EQ(contents.header.checksum, 0xcbf29ce484222325ULL);
}

TEST_F(CacheFileTest, TemporaryNameCarriesTheChecksum)
{
    EXPECT_EQ(cacheTemporaryPath("/c/manifest.json", 42),
              std::filesystem::path("/c/manifest.json.partial.16.000000000000002a"));
}

TEST_F(CacheFileTest, RewritingTheSamePayloadLeavesOneTarget)
{
    const auto target = file("stream.vxmeta");
    // A crashed earlier attempt left its temporary file behind.
    writeBytes(cacheTemporaryPath(target, fnv1a64(std::string_view{"x"})), {1, 2, 3});
    for (int round = 0; round < 2; ++round) {
        ASSERT_FALSE(
            writeCacheContainer(target, kStreamMetaMagic, asBytes("x"), options, noBudget));
    }
    EXPECT_TRUE(leftovers().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()),
                            std::filesystem::directory_iterator()),
              1);
}

// A crashed earlier write may leave its temporary name behind as anything: the new write
// must neither carry the old bytes over nor write through a link to another file.
TEST_F(CacheFileTest, LeftoverTemporaryNamesNeverShapeTheNewFile)
{
    enum class Leftover { longerFile, linkToOutsideFile };
    for (const Leftover leftover : {Leftover::longerFile, Leftover::linkToOutsideFile}) {
        for (const bool staged : {false, true}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(leftover) << (staged ? " staged" : " single"));
            const auto target = file("pictures/a.vxpic");
            const auto outside = file("outside.bin");
            std::filesystem::remove_all(scratch.path() / "pictures");
            std::filesystem::create_directories(scratch.path() / "pictures");
            const std::vector<std::uint8_t> outsideBytes(200, 7);
            writeBytes(outside, outsideBytes);
            const auto temporary = cacheTemporaryPath(target, fnv1a64(std::string_view{"new"}));
            if (leftover == Leftover::longerFile) {
                writeBytes(temporary, std::vector<std::uint8_t>(500, 9));
            } else {
                std::filesystem::create_symlink(outside, temporary);
            }

            if (staged) {
                StagedCacheFiles batch;
                ASSERT_FALSE(batch.stage(target, kPictureMagic, asBytes("new"), options, noBudget));
                ASSERT_FALSE(batch.commit(scratch.path()));
            } else {
                ASSERT_FALSE(writeCacheContainer(target, kPictureMagic, asBytes("new"), options, noBudget));
            }
            EXPECT_EQ(readBytes(target), containerImage(kPictureMagic, "new"));
            EXPECT_FALSE(std::filesystem::is_symlink(target));
            EXPECT_EQ(readBytes(outside), outsideBytes);
            EXPECT_TRUE(leftovers().empty());
        }
    }
}

TEST_F(CacheFileTest, ReadRefusesDamagedFiles)
{
    const auto target = file("manifest.json");
    ASSERT_FALSE(
        writeCacheContainer(target, kManifestMagic, asBytes("0123456789"), options, noBudget));
    const std::vector<std::uint8_t> intact = readBytes(target);

    struct Damage {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> apply;
        Kind kind;
        const char* message;
    };
    const std::vector<Damage> damages = {
        {"payload byte flipped", [](auto& i) { i[70] ^= 0x40; }, Kind::checksum_mismatch,
         "cache payload checksum does not match header"},
        {"checksum field changed", [](auto& i) { i[52] ^= 0x01; }, Kind::checksum_mismatch,
         "cache payload checksum does not match header"},
        {"0 bytes", [](auto& i) { i.clear(); }, Kind::invalid_header,
         "cache file is shorter than header"},
        {"63 bytes", [](auto& i) { i.resize(63); }, Kind::invalid_header,
         "cache file is shorter than header"},
        {"header only", [](auto& i) { i.resize(64); }, Kind::invalid_header, kLengthMessage},
        {"cut in the payload", [](auto& i) { i.resize(69); }, Kind::invalid_header, kLengthMessage},
        {"one byte short", [](auto& i) { i.pop_back(); }, Kind::invalid_header, kLengthMessage},
        {"wrong kind", [](auto& i) { poke(i, 0, kPictureMagic); }, Kind::invalid_magic,
         "cache container magic mismatch"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        std::vector<std::uint8_t> image = intact;
        damage.apply(image);
        writeBytes(target, image);
        const CacheError error = errorOf(readCacheFile(target, kManifestMagic));
        expectError(error, damage.kind, damage.message);
        EXPECT_EQ(error.path, target);
    }
}

TEST_F(CacheFileTest, ReadRefusesWhatIsNoReadableFile)
{
    const CacheError missing = errorOf(readCacheFile(file("absent"), kManifestMagic));
    expectError(missing, Kind::io_error, "cache file is not readable: No such file or directory");

    std::filesystem::create_directory(file("a-directory"));
    expectError(errorOf(readCacheFile(file("a-directory"), kManifestMagic)), Kind::io_error,
                "cache file could not be opened for reading");

    // A pipe planted under a cache name must not block the reader.
    ASSERT_EQ(::mkfifo(file("a-pipe").c_str(), 0600), 0);
    expectError(errorOf(readCacheFile(file("a-pipe"), kManifestMagic)), Kind::io_error,
                "cache file could not be opened for reading");

    // Sparse: the size is what matters, nothing is read.
    const auto huge = file("huge");
    writeBytes(huge, {});
    std::filesystem::resize_file(huge, kCacheMaxFileSize + 1);
    expectError(errorOf(readCacheFile(huge, kManifestMagic)), Kind::resource_limit,
                "cache file exceeds configured limit");
}

TEST_F(CacheFileTest, WriteRefusalsTouchNothing)
{
    const auto target = file("pictures/x.vxpic");
    CacheWriteOptions cancelled;
    cancelled.isCancelled = [] { return true; };
    expectError(errorOf(writeCacheFile(target, kPictureMagic, asBytes("x"), cancelled, noBudget)),
                Kind::cancelled, "cache write cancelled before file write");

    CacheWriteOptions compressed;
    compressed.compress = true;
    expectError(errorOf(writeCacheFile(target, kPictureMagic, asBytes("x"), compressed, noBudget)),
                Kind::unsupported_compression,
                "cache compression was requested but no compressor is linked");

    // Address space only: the size is refused before a byte of it is touched.
    const std::size_t oversize = kCacheMaxPayloadSize + 1;
    void* region =
        ::mmap(nullptr, oversize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    const std::span<const std::uint8_t> big(static_cast<const std::uint8_t*>(region), oversize);
    expectError(errorOf(writeCacheFile(target, kPictureMagic, big, options, noBudget)),
                Kind::resource_limit, "cache payload exceeds configured limit");
    ::munmap(region, oversize);

    EXPECT_FALSE(std::filesystem::exists(file("pictures")));
}

TEST_F(CacheFileTest, FileSystemFailuresAreIoErrors)
{
    writeBytes(file("blocker"), {1});
    const CacheError noDirectory = errorOf(
        writeCacheFile(file("blocker/x.vxpic"), kPictureMagic, asBytes("x"), options, noBudget));
    EXPECT_EQ(noDirectory.kind, static_cast<std::uint32_t>(Kind::io_error));
    EXPECT_TRUE(noDirectory.message.starts_with("cache directory could not be created: "))
        << noDirectory.message;

    const auto target = file("t.vxpic");
    std::filesystem::create_directory(cacheTemporaryPath(target, fnv1a64(std::string_view{"x"})));
    const CacheError noTemporary =
        errorOf(writeCacheFile(target, kPictureMagic, asBytes("x"), options, noBudget));
    expectError(noTemporary, Kind::io_error, "temporary cache file could not be opened");
    EXPECT_EQ(noTemporary.path, cacheTemporaryPath(target, fnv1a64(std::string_view{"x"})));

    const auto directoryTarget = file("occupied");
    std::filesystem::create_directories(directoryTarget / "child");
    const CacheError noRename =
        errorOf(writeCacheFile(directoryTarget, kPictureMagic, asBytes("y"), options, noBudget));
    EXPECT_EQ(noRename.kind, static_cast<std::uint32_t>(Kind::io_error));
    EXPECT_TRUE(noRename.message.starts_with(
        "temporary cache file could not be atomically renamed: win32 error "))
        << noRename.message;
    EXPECT_EQ(noRename.path, directoryTarget);
    EXPECT_FALSE(std::filesystem::exists(
        cacheTemporaryPath(directoryTarget, fnv1a64(std::string_view{"y"}))));
}

TEST_F(CacheFileTest, DiskFullBudgetStopsMidFileAndLeavesNoTemporary)
{
    struct BudgetCase {
        std::uint64_t budget;
        std::size_t payloadSize;
        bool written;
        std::uint64_t left;
    };
    const std::vector<BudgetCase> cases = {
        {100, 40, false, 36},  // the header goes through, the payload does not fit
        {63, 0, false, 63},    // not even the header
        {104, 40, true, 0},    // exactly enough
        {64, 0, true, 0},
    };
    for (const BudgetCase& item : cases) {
        SCOPED_TRACE(item.budget);
        const auto target = file("pictures/b.vxpic");
        std::filesystem::remove(target);
        std::optional<std::uint64_t> budget = item.budget;
        const std::string payload(item.payloadSize, 'p');
        const auto result =
            writeCacheFile(target, kPictureMagic, asBytes(payload), options, budget);
        if (item.written) {
            EXPECT_FALSE(isCacheError(result));
        } else {
            const CacheError error = errorOf(result);
            expectError(error, Kind::disk_full, "simulated disk full while writing cache file");
            EXPECT_EQ(error.path, cacheTemporaryPath(target, fnv1a64(asBytes(payload))));
        }
        EXPECT_EQ(budget, item.left);
        EXPECT_EQ(std::filesystem::exists(target), item.written);
        EXPECT_TRUE(leftovers().empty());
    }
}

TEST_F(CacheFileTest, CancellationAfterTheFlushKeepsTheOldTarget)
{
    const auto target = file("manifest.json");
    ASSERT_FALSE(writeCacheContainer(target, kManifestMagic, asBytes("old"), options, noBudget));
    int calls = 0;
    CacheWriteOptions lateCancel;
    lateCancel.isCancelled = [&calls] { return ++calls > 1; };
    expectError(
        errorOf(writeCacheFile(target, kManifestMagic, asBytes("new"), lateCancel, noBudget)),
        Kind::cancelled, "cache write cancelled before commit");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(readBytes(target), containerImage(kManifestMagic, "old"));
    EXPECT_TRUE(leftovers().empty());
}

TEST(CacheDiskFullHookTest, ChargesOnlySuccessfulWrites)
{
    ScratchDirectory scratch;
    int openError = 0;
    auto out = cachefs::OutputFile::create(scratch.path() / "f", openError);
    ASSERT_TRUE(out);
    std::optional<std::uint64_t> budget = 5;
    EXPECT_FALSE(writeWithDiskFullHook(*out, "f", asBytes("abc"), budget));
    EXPECT_EQ(budget, 2u);
    EXPECT_TRUE(writeWithDiskFullHook(*out, "f", asBytes("abc"), budget));
    EXPECT_EQ(budget, 2u);
    std::optional<std::uint64_t> unlimited;
    EXPECT_FALSE(writeWithDiskFullHook(*out, "f", asBytes("abc"), unlimited));
    EXPECT_FALSE(unlimited);
}

}  // namespace
}  // namespace vexilo::analysis
