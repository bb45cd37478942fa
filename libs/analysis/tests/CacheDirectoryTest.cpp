#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CachePayload.h"
#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/CacheWriter.h"

#include "CacheTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <set>
#include <thread>

namespace vexilo::analysis {
namespace {

namespace ids = cachetest::ids;
using cachetest::errorOf;
using cachetest::expectError;
using cachetest::kFingerprintA;
using cachetest::kFingerprintB;
using cachetest::makeAnalysis;
using cachetest::readBytes;
using cachetest::ScratchDirectory;
using cachetest::valueOf;
using cachetest::writeBytes;
using Kind = CacheErrorKind;

std::set<std::string> filesUnder(const std::filesystem::path& root)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        names.insert(std::filesystem::relative(entry.path(), root).generic_string());
    }
    return names;
}

std::string payloadText(const std::filesystem::path& file, std::uint64_t magic)
{
    const auto contents = valueOf(readCacheFile(file, magic));
    return {contents.payload.begin(), contents.payload.end()};
}

StreamAnalysis readStreamFile(const std::filesystem::path& directory)
{
    const auto contents = valueOf(readCacheFile(directory / "stream.vxmeta", kStreamMetaMagic));
    return valueOf(decodeCachedAnalysisPayload(contents.payload, directory / "stream.vxmeta"));
}

// Rewrites the manifest container with text of our own.
void replaceManifest(const std::filesystem::path& directory, const std::string& text)
{
    std::optional<std::uint64_t> budget;
    ASSERT_FALSE(writeCacheContainer(directory / "manifest.json", kManifestMagic, asBytes(text), {},
                                     budget));
}

void copyFileOver(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

class CacheDirectoryTest : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    std::filesystem::path cache = scratch.path() / "cache";
    CacheWriteOptions options;

    CacheManifest write(const StreamAnalysis& analysis)
    {
        return valueOf(writeAnalysisCache(cache, analysis, options));
    }

    [[nodiscard]] std::filesystem::path pictureFile(std::uint64_t n) const
    {
        return cache / "pictures" / pictureCacheFileName(ids::picture(n));
    }
};

TEST_F(CacheDirectoryTest, WritesExactlyTheSpecifiedFilesAndReadsThemBack)
{
    const StreamAnalysis analysis = makeAnalysis(3, true);
    const CacheManifest manifest = write(analysis);

    EXPECT_EQ(filesUnder(cache),
              (std::set<std::string>{".writer.lock", "index.vxidx", "manifest.json", "pictures",
                                     "pictures/0000000000000009-0000000000000001.vxpic",
                                     "pictures/0000000000000009-0000000000000002.vxpic",
                                     "pictures/0000000000000009-0000000000000003.vxpic",
                                     "stream.vxmeta"}));
    EXPECT_EQ(manifest, buildCacheManifest(analysis));
    const std::string manifestText = payloadText(cache / "manifest.json", kManifestMagic);
    EXPECT_EQ(manifestText, serializeManifestJson(manifest));
    EXPECT_NE(manifestText.find("  \"picture_count\": 3,\n  \"pictures\": [\n"
                                "    { \"stable_id_high\": 9, \"stable_id_low\": 1, \"path\": "
                                "\"pictures/0000000000000009-0000000000000001.vxpic\" },\n"),
              std::string::npos)
        << manifestText;
    EXPECT_EQ(payloadText(cache / "index.vxidx", kIndexMagic),
              serializeIndexJson(analysis, manifest));

    EXPECT_EQ(valueOf(openAnalysisCache(cache, kFingerprintA)), manifest);
    EXPECT_EQ(readStreamFile(cache), buildStreamMetaDocument(analysis));
    const std::vector<StreamAnalysis> expected = buildPictureDocument(analysis);
    for (std::size_t index = 0; index < manifest.pictures.size(); ++index) {
        EXPECT_EQ(valueOf(readCachedPicture(cache, manifest.pictures[index], kFingerprintA)),
                  expected[index]);
    }
}

TEST_F(CacheDirectoryTest, AnAnalysisWithoutPicturesWritesNoPictureFile)
{
    const CacheManifest manifest = write(makeAnalysis(0, false));
    EXPECT_TRUE(manifest.pictures.empty());
    EXPECT_EQ(filesUnder(cache),
              (std::set<std::string>{".writer.lock", "index.vxidx", "manifest.json", "pictures",
                                     "stream.vxmeta"}));
    EXPECT_NE(payloadText(cache / "manifest.json", kManifestMagic).find("\"picture_count\": 0,"),
              std::string::npos);
}

TEST(CachePictureDocumentTest, SplitsTheAnalysisByPicture)
{
    const StreamAnalysis analysis = makeAnalysis(2, true);
    const StreamAnalysis stream = buildStreamMetaDocument(analysis);
    EXPECT_EQ(stream.nalUnits, analysis.nalUnits);
    EXPECT_EQ(stream.parameterSets, analysis.parameterSets);
    EXPECT_EQ(stream.seiMessages, analysis.seiMessages);
    EXPECT_EQ(stream.pictures, analysis.pictures);
    ASSERT_EQ(stream.errors.size(), 1u);
    EXPECT_EQ(stream.errors[0].id, ids::kStreamError);
    EXPECT_EQ(stream.slices, analysis.slices);
    EXPECT_TRUE(stream.ctus.empty() && stream.referencePictures.empty() &&
                stream.dpbSnapshotEntries.empty() && stream.motionVectors.empty());

    const std::vector<StreamAnalysis> pictures = buildPictureDocument(analysis);
    ASSERT_EQ(pictures.size(), 2u);
    for (std::uint64_t n = 1; n <= 2; ++n) {
        const StreamAnalysis& document = pictures[n - 1];
        SCOPED_TRACE(n);
        EXPECT_EQ(document.id, analysis.id);
        EXPECT_EQ(document.sourceFingerprint, analysis.sourceFingerprint);
        EXPECT_EQ(document.width, analysis.width);
        ASSERT_EQ(document.pictures.size(), 1u);
        EXPECT_EQ(document.pictures[0].id, ids::picture(n));
        EXPECT_TRUE(document.parameterSets.empty());
        ASSERT_EQ(document.slices.size(), 1u);
        EXPECT_EQ(document.slices[0].id, ids::slice(n));
        EXPECT_EQ(document.referencePictures.size(), 1u);
        EXPECT_EQ(document.shortTermReferencePictures.size(), 1u);
        EXPECT_EQ(document.longTermReferencePictures.size(), 1u);
        EXPECT_EQ(document.dpbSnapshotEntries.size(), 1u);
        EXPECT_EQ(document.ctus.size(), 1u);
        EXPECT_EQ(document.cus.size(), 2u);
        EXPECT_EQ(document.pus.size(), 1u);
        EXPECT_EQ(document.tus.size(), 2u);
        EXPECT_EQ(document.motionVectors.size(), 1u);
        ASSERT_EQ(document.errors.size(), 1u);
        EXPECT_EQ(document.errors[0].id, ids::sliceError(n));
        // The SEI message and its NAL unit belong to picture 1 only.
        EXPECT_EQ(document.seiMessages.size(), n == 1 ? 1u : 0u);
        EXPECT_EQ(document.nalUnits.size(), n == 1 ? 2u : 1u);
    }
}

// The writer refills one document picture after picture, and may have cut or merged blocks
// into it in between: nothing of an earlier picture may survive into the next.
TEST(CachePictureDocumentTest, ARefilledDocumentHoldsOnlyItsOwnPicture)
{
    StreamAnalysis analysis = makeAnalysis(3, true);
    // Without its CTU, picture 2's blocks hang from nothing: its document has none.
    std::erase_if(analysis.ctus, [](const CtuInfo& ctu) { return ctu.parentPictureSummaryId == ids::picture(2); });
    const PictureDocumentSplit split(analysis);
    ASSERT_EQ(split.size(), 3u);
    std::vector<StreamAnalysis> fresh(split.size());
    for (std::size_t index = 0; index < split.size(); ++index) {
        split.fill(index, fresh[index]);
    }
    EXPECT_EQ(fresh, buildPictureDocument(analysis));
    EXPECT_TRUE(fresh[1].ctus.empty() && fresh[1].cus.empty() && fresh[1].motionVectors.empty());

    StreamAnalysis reused;
    for (const std::size_t index : {0u, 1u, 2u, 0u, 1u}) {
        SCOPED_TRACE(index);
        split.fill(index, reused);
        EXPECT_EQ(reused, fresh[index]);
        // What the writer may do to a document before the next picture.
        reused.parameterSets = analysis.parameterSets;
        reused.pictures.push_back(analysis.pictures[2]);
        reused.errors.clear();
        reused.sourceFingerprint = kFingerprintB;
    }
}

// Nothing hangs from the leaves of a picture's tree, so the split keeps their owners only
// when an error names them: such an error must still land in the leaf's picture.
TEST(CachePictureDocumentTest, AnErrorAboutALeafLandsInTheLeafsPicture)
{
    const std::vector<StableId> leaves = {ids::referencePicture(2), ids::shortTerm(2), ids::longTerm(2),
                                          ids::dpbEntry(2),         ids::leafTu(2),    ids::motionVector(2)};
    for (const StableId& leaf : leaves) {
        SCOPED_TRACE(testing::Message() << leaf.high);
        StreamAnalysis analysis = makeAnalysis(3, true);
        // Picture 2's slice error now names the leaf.
        for (AnalysisErrorInfo& error : analysis.errors) {
            if (error.id == ids::sliceError(2)) {
                error.relatedObjectId = leaf;
            }
        }
        const std::vector<StreamAnalysis> pictures = buildPictureDocument(analysis);
        ASSERT_EQ(pictures[1].errors.size(), 1u);
        EXPECT_EQ(pictures[1].errors[0].id, ids::sliceError(2));
        EXPECT_EQ(pictures[0].errors.size(), 1u);
        EXPECT_EQ(pictures[2].errors.size(), 1u);
    }
    // The SEI message belongs to picture 1.
    StreamAnalysis analysis = makeAnalysis(3, false);
    analysis.errors.back().relatedObjectId = ids::kSei;
    EXPECT_EQ(buildPictureDocument(analysis)[0].errors.back().relatedObjectId, ids::kSei);
}

template <typename Record>
std::vector<StableId> idsOf(const std::vector<Record>& records)
{
    std::vector<StableId> result;
    for (const Record& record : records) {
        result.push_back(record.id);
    }
    return result;
}

template <typename Record>
void renameLinks(std::vector<Record>& records, StableId Record::*link, const StableId& from, const StableId& to)
{
    for (Record& record : records) {
        if (record.*link == from) {
            record.*link = to;
        }
    }
}

// A block goes where the first holder of its parent's identity went: also when a later block
// of the parent's collection, nearer to it, holds that identity too, and when its own parent
// went nowhere while a record of another collection holds the identity.
TEST(CachePictureDocumentTest, BlocksFollowTheFirstHolderOfTheirParentsIdentity)
{
    StreamAnalysis analysis = makeAnalysis(3, true);
    // Picture 3's leaf CU repeats picture 1's; picture 3's PU and TUs name it by that identity.
    renameLinks(analysis.cus, &CuInfo::id, ids::leafCu(3), ids::leafCu(1));
    renameLinks(analysis.pus, &PuInfo::parentCuId, ids::leafCu(3), ids::leafCu(1));
    renameLinks(analysis.tus, &TuInfo::parentCuId, ids::leafCu(3), ids::leafCu(1));
    // Picture 2's CTU hangs from no picture and holds the identity of picture 3's slice NAL unit.
    renameLinks(analysis.ctus, &CtuInfo::parentPictureSummaryId, ids::picture(2), ids::picture(99));
    renameLinks(analysis.ctus, &CtuInfo::id, ids::ctu(2), ids::sliceNal(3));
    renameLinks(analysis.cus, &CuInfo::parentCtuId, ids::ctu(2), ids::sliceNal(3));

    const std::vector<StreamAnalysis> pictures = buildPictureDocument(analysis);
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(idsOf(pictures[0].pus), (std::vector<StableId>{ids::pu(1), ids::pu(3)}));
    EXPECT_EQ(idsOf(pictures[0].tus),
              (std::vector<StableId>{ids::rootTu(1), ids::leafTu(1), ids::rootTu(3), ids::leafTu(3)}));
    EXPECT_EQ(idsOf(pictures[0].motionVectors), (std::vector<StableId>{ids::motionVector(1), ids::motionVector(3)}));
    EXPECT_TRUE(pictures[1].ctus.empty() && pictures[1].cus.empty() && pictures[1].pus.empty());
    EXPECT_EQ(idsOf(pictures[2].cus),
              (std::vector<StableId>{ids::rootCu(2), ids::leafCu(2), ids::rootCu(3), ids::leafCu(1)}));
    EXPECT_EQ(idsOf(pictures[2].pus), (std::vector<StableId>{ids::pu(2)}));
    EXPECT_EQ(idsOf(pictures[2].tus), (std::vector<StableId>{ids::rootTu(2), ids::leafTu(2)}));
}

template <typename Record>
void moveToEnd(std::vector<Record>& records, const StableId& id)
{
    const auto found =
        std::find_if(records.begin(), records.end(), [&](const Record& record) { return record.id == id; });
    std::rotate(found, found + 1, records.end());
}

// A validated document's blocks are placed without asking the owner table whether their
// identities are taken, and mostly without looking their parents up in it: they must still go
// where an unchecked split puts them, also past long runs of parents without children of a
// kind, to parents behind the last one found, and where an error names a block.
TEST(CachePictureDocumentTest, AValidatedDocumentSplitsAsAnUncheckedOne)
{
    constexpr std::uint64_t kPictures = 14;
    StreamAnalysis analysis = makeAnalysis(kPictures, true);
    // Only the first and last pictures keep TUs and motion vectors: the last ones' parents lie
    // two dozen records past the first ones'.
    const auto middlePicture = [](const StableId& parent, StableId (*idOf)(std::uint64_t)) {
        return parent != idOf(1) && parent != idOf(kPictures);
    };
    std::erase_if(analysis.tus, [&](const TuInfo& tu) { return middlePicture(tu.parentCuId, ids::leafCu); });
    std::erase_if(analysis.motionVectors,
                  [&](const MotionVectorInfo& vector) { return middlePicture(vector.parentPuId, ids::pu); });
    for (std::uint64_t n = 2; n < kPictures; ++n) {
        analysis.pictures[n - 1].tuCount = 0;
    }
    // Picture 1's TUs and picture 3's CU come last, behind later parents; CTUs come in reverse.
    moveToEnd(analysis.tus, ids::rootTu(1));
    moveToEnd(analysis.tus, ids::leafTu(1));
    moveToEnd(analysis.cus, ids::leafCu(3));
    std::reverse(analysis.ctus.begin(), analysis.ctus.end());
    // An error names picture 5's leaf CU.
    analysis.errors[4].relatedObjectId = ids::leafCu(5);
    ASSERT_TRUE(validateStreamAnalysis(analysis).empty());

    const PictureDocumentSplit unchecked(analysis);
    const PictureDocumentSplit validated(analysis, PictureDocumentSplit::Identities::validated);
    StreamAnalysis expected;
    StreamAnalysis document;
    for (std::size_t index = 0; index < kPictures; ++index) {
        SCOPED_TRACE(index);
        unchecked.fill(index, expected);
        validated.fill(index, document);
        EXPECT_EQ(document, expected);
        const std::uint64_t n = index + 1;
        EXPECT_EQ(idsOf(document.ctus), std::vector<StableId>{ids::ctu(n)});
        EXPECT_EQ(document.cus.size(), 2u);
        EXPECT_EQ(document.tus.size(), n == 1 || n == kPictures ? 2u : 0u);
        EXPECT_EQ(document.motionVectors.size(), n == 1 || n == kPictures ? 1u : 0u);
        EXPECT_EQ(document.errors.size(), 1u);
    }
}

// The builder stores each picture's blocks together, in decode order, while the summaries
// follow output order: each picture's blocks are then read as one run from wherever it lies.
// A picture whose blocks are broken up, or a block that has no picture, must still be placed
// record by record.
TEST(CachePictureDocumentTest, PicturesTakeTheirBlocksWhereverTheirRunsLie)
{
    constexpr std::uint64_t kPictures = 4;
    const StreamAnalysis inOrder = makeAnalysis(kPictures, true);
    const std::vector<StreamAnalysis> expected = buildPictureDocument(inOrder);
    StreamAnalysis runsReversed = inOrder;
    const auto reverseRuns = [&](auto collection) {
        auto& blocks = runsReversed.*collection;
        blocks.clear();
        for (auto picture = expected.rbegin(); picture != expected.rend(); ++picture) {
            blocks.insert(blocks.end(), ((*picture).*collection).begin(), ((*picture).*collection).end());
        }
    };
    reverseRuns(&StreamAnalysis::ctus);
    reverseRuns(&StreamAnalysis::cus);
    reverseRuns(&StreamAnalysis::pus);
    reverseRuns(&StreamAnalysis::tus);
    reverseRuns(&StreamAnalysis::motionVectors);
    ASSERT_NE(runsReversed.cus, inOrder.cus);
    EXPECT_EQ(buildPictureDocument(runsReversed), expected);

    // Picture 4's CUs come first now; its leaf CU moves behind picture 1's.
    StreamAnalysis brokenRun = runsReversed;
    moveToEnd(brokenRun.cus, ids::leafCu(kPictures));
    EXPECT_EQ(buildPictureDocument(brokenRun), expected);

    // A CU whose CTU is in no document goes nowhere; the others keep their pictures.
    StreamAnalysis unplaced = runsReversed;
    CuInfo stray = unplaced.cus.front();
    stray.id = ids::leafCu(99);
    stray.parentCtuId = ids::ctu(99);
    unplaced.cus.insert(unplaced.cus.begin() + 3, stray);
    EXPECT_EQ(buildPictureDocument(unplaced), expected);
}

TEST(CachePictureDocumentTest, PlacesSlicesByTheirKeysInOrder)
{
    StreamAnalysis analysis = makeAnalysis(3, false);
    // Picture 3 shares picture 2's POC; slice 3 can be found only by its POC.
    analysis.pictures[2].poc = 2;
    analysis.slices[2].pictureId.reset();
    analysis.slices[2].displayIndex.reset();
    analysis.slices[2].poc = 2;
    // Slice 1 matches no summary at all.
    analysis.slices[0].pictureId = 99;
    analysis.slices[0].displayIndex = 99;
    analysis.slices[0].poc = 99;
    analysis.nalUnits[4].pictureId.reset();  // slice 1's NAL unit
    // An error about a parameter set lands in no picture.
    analysis.errors[0].relatedObjectId = ids::kSps;

    const std::vector<StreamAnalysis> pictures = buildPictureDocument(analysis);
    EXPECT_TRUE(pictures[0].slices.empty());
    EXPECT_TRUE(pictures[0].referencePictures.empty());
    EXPECT_TRUE(pictures[0].dpbSnapshotEntries.empty());
    EXPECT_TRUE(pictures[0].errors.empty());
    for (const StreamAnalysis& document : pictures) {
        for (const NalUnitInfo& unit : document.nalUnits) {
            EXPECT_NE(unit.id, ids::sliceNal(1));
        }
    }
    EXPECT_EQ(buildStreamMetaDocument(analysis).nalUnits.size(), analysis.nalUnits.size());

    ASSERT_EQ(pictures[1].slices.size(), 2u);
    EXPECT_EQ(pictures[1].slices[1].id, ids::slice(3));
    EXPECT_EQ(pictures[1].referencePictures.size(), 2u);
    EXPECT_TRUE(pictures[2].slices.empty());
    // Slice 3's NAL unit still carries picture 3's id, which wins over the slice's pull.
    ASSERT_EQ(pictures[2].nalUnits.size(), 1u);
    EXPECT_EQ(pictures[2].nalUnits[0].id, ids::sliceNal(3));
}

TEST_F(CacheDirectoryTest, ReaderRefusesWhatDoesNotMatch)
{
    const CacheManifest manifest = write(makeAnalysis(2, false));
    const ManifestPictureEntry& first = manifest.pictures[0];

    expectError(errorOf(openAnalysisCache("")), Kind::invalid_path, "cache directory is empty");
    expectError(errorOf(readCachedPicture("", first)), Kind::invalid_path,
                "cache directory is empty");
    expectError(errorOf(openAnalysisCache(scratch.path())), Kind::io_error,
                "cache file is not readable: No such file or directory");

    EXPECT_FALSE(isCacheError(openAnalysisCache(cache, std::nullopt)));
    const CacheError stale = errorOf(openAnalysisCache(cache, kFingerprintB));
    expectError(stale, Kind::stale, "manifest source fingerprint does not match expected source");
    EXPECT_EQ(stale.path, cache / "manifest.json");
    expectError(errorOf(readCachedPicture(cache, first, kFingerprintB)), Kind::stale,
                "manifest source fingerprint does not match expected source");

    const ManifestPictureEntry elsewhere{first.stableId, manifest.pictures[1].path};
    const CacheError absent = errorOf(readCachedPicture(cache, elsewhere));
    expectError(absent, Kind::invalid_payload, "requested picture is not present in manifest");
    EXPECT_EQ(absent.path, cache / elsewhere.path);
}

TEST_F(CacheDirectoryTest, ReaderRefusesPictureFilesThatLie)
{
    const CacheManifest manifest = write(makeAnalysis(2, false));
    ScratchDirectory other;
    ASSERT_FALSE(isCacheError(
        writeAnalysisCache(other.path(), makeAnalysis(2, false, kFingerprintB), options)));

    copyFileOver(other.path() / "pictures" / pictureCacheFileName(ids::picture(1)), pictureFile(1));
    const CacheError stale = errorOf(readCachedPicture(cache, manifest.pictures[0]));
    expectError(stale, Kind::stale, "picture fingerprint does not match manifest");
    EXPECT_EQ(stale.path, pictureFile(1));

    copyFileOver(pictureFile(2), pictureFile(1));
    expectError(errorOf(readCachedPicture(cache, manifest.pictures[0])), Kind::invalid_payload,
                "picture payload does not match manifest identity");

    std::optional<std::uint64_t> budget;
    ASSERT_FALSE(
        writeCacheContainer(pictureFile(1), kPictureMagic, asBytes("not a document"), {}, budget));
    expectError(errorOf(readCachedPicture(cache, manifest.pictures[0])), Kind::invalid_payload,
                "analysis buffer is not a valid Vexilo FlatBuffer (VXSA)");

    // A stream-level file holds all summaries: never one picture's document.
    copyFileOver(cache / "stream.vxmeta", pictureFile(1));
    expectError(errorOf(readCachedPicture(cache, manifest.pictures[0])), Kind::invalid_magic,
                "cache container magic mismatch");
}

// Large payloads are decoded while their checksum is taken beside them: a byte changed where
// decoding cannot see it, or a payload that cannot be decoded at all, is still refused as the
// checksum says, and a payload whose checksum holds is refused only for what it is.
TEST_F(CacheDirectoryTest, ALargeFileIsRefusedByItsChecksumWhateverItsDecodingMakesOfIt)
{
    StreamAnalysis analysis = makeAnalysis(2, false);
    const std::string longMessage(1024, 'm');
    for (std::uint64_t n = 1; n <= 2048; ++n) {
        AnalysisErrorInfo note = analysis.errors.back();
        note.id = StableId{0xf, 0x20000 + n};
        note.message = longMessage;
        analysis.errors.push_back(note);
    }
    const CacheManifest manifest = write(analysis);
    const std::filesystem::path streamFile = cache / "stream.vxmeta";
    std::vector<std::uint8_t> bytes = readBytes(streamFile);
    ASSERT_GT(bytes.size(), std::size_t{2} << 20);
    EXPECT_GT(valueOf(readCachedStream(cache, manifest)).errors.size(), std::size_t{2048});

    const auto message = std::search(bytes.begin(), bytes.end(), longMessage.begin(), longMessage.end());
    ASSERT_NE(message, bytes.end());
    message[512] = 'n';  // still a well-formed document
    writeBytes(streamFile, bytes);
    expectError(errorOf(readCachedStream(cache, manifest)), Kind::checksum_mismatch,
                "cache payload checksum does not match header");

    const std::vector<std::uint8_t> noise(std::size_t{3} << 20, 0x5a);
    std::optional<std::uint64_t> budget;
    ASSERT_FALSE(writeCacheContainer(pictureFile(1), kPictureMagic, noise, {}, budget));
    expectError(errorOf(readCachedPicture(cache, manifest.pictures[0])), Kind::invalid_payload,
                "analysis buffer is not a valid Vexilo FlatBuffer (VXSA)");
    std::vector<std::uint8_t> noiseFile = readBytes(pictureFile(1));
    noiseFile[noiseFile.size() / 2] ^= 0x01;
    writeBytes(pictureFile(1), noiseFile);
    expectError(errorOf(readCachedPicture(cache, manifest.pictures[0])), Kind::checksum_mismatch,
                "cache payload checksum does not match header");
}

TEST_F(CacheDirectoryTest, AnUnsafeEntryClosesTheWholeCache)
{
    const CacheManifest manifest = write(makeAnalysis(2, false));
    const std::string text = serializeManifestJson(manifest);
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"pictures/0000000000000009-0000000000000002.vxpic", "../../etc/passwd.vxpic"},
        {"pictures/0000000000000009-0000000000000002.vxpic", "/tmp/x.vxpic"},
        {"pictures/0000000000000009-0000000000000002.vxpic", "pictures\\\\..\\\\..\\\\x.vxpic"},
        {"pictures/0000000000000009-0000000000000002.vxpic", "stream.vxmeta"},
        {"\"stream\": \"stream.vxmeta\"", "\"stream\": \"../stream.vxmeta\""},
    };
    for (const auto& [from, to] : hostile) {
        SCOPED_TRACE(to);
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        replaceManifest(cache, changed);
        EXPECT_EQ(errorOf(openAnalysisCache(cache)).kind,
                  static_cast<std::uint32_t>(Kind::invalid_path));
        EXPECT_EQ(errorOf(readCachedPicture(cache, manifest.pictures[0])).kind,
                  static_cast<std::uint32_t>(Kind::invalid_path));
    }
}

TEST_F(CacheDirectoryTest, WriterRefusesBeforeTouchingTheDirectory)
{
    expectError(errorOf(writeAnalysisCache("", makeAnalysis(1, false), options)),
                Kind::invalid_path, "cache directory is empty");
    CacheWriteOptions cancelled;
    cancelled.isCancelled = [] { return true; };
    const CacheError error = errorOf(writeAnalysisCache(cache, makeAnalysis(1, false), cancelled));
    expectError(error, Kind::cancelled, "cache write cancelled before start");
    EXPECT_EQ(error.path, cache);
    EXPECT_FALSE(std::filesystem::exists(cache));

    writeBytes(scratch.path() / "file", {1});
    const CacheError blocked = errorOf(
        writeAnalysisCache(scratch.path() / "file" / "cache", makeAnalysis(1, false), options));
    EXPECT_EQ(blocked.kind, static_cast<std::uint32_t>(Kind::io_error));
    EXPECT_TRUE(blocked.message.starts_with("cache directory could not be created: "))
        << blocked.message;

    std::filesystem::create_directories(cache / ".writer.lock");
    const CacheError noLock = errorOf(writeAnalysisCache(cache, makeAnalysis(1, false), options));
    EXPECT_EQ(noLock.kind, static_cast<std::uint32_t>(Kind::io_error));
    EXPECT_TRUE(noLock.message.starts_with("cache directory could not be locked: ")) << noLock.message;
    std::filesystem::remove(cache / ".writer.lock");

    writeBytes(cache / "pictures", {1});
    const CacheError noPictures =
        errorOf(writeAnalysisCache(cache, makeAnalysis(1, false), options));
    EXPECT_TRUE(noPictures.message.starts_with("picture cache directory could not be created: "))
        << noPictures.message;
    EXPECT_EQ(noPictures.path, cache / "pictures");
}

TEST_F(CacheDirectoryTest, WriterRefusesAnInvalidDocumentAndCompression)
{
    StreamAnalysis invalid = makeAnalysis(1, false);
    invalid.id = StableId{};
    const CacheError error = errorOf(writeAnalysisCache(cache, invalid, options));
    expectError(error, Kind::invalid_payload, "analysis document failed domain validation");
    EXPECT_EQ(error.path, cache / "stream.vxmeta");

    CacheWriteOptions compressed;
    compressed.compress = true;
    expectError(errorOf(writeAnalysisCache(cache, makeAnalysis(1, false), compressed)),
                Kind::unsupported_compression,
                "cache compression was requested but no compressor is linked");
    EXPECT_FALSE(std::filesystem::exists(cache / "manifest.json"));
}

// A caller that validated the whole document spares the picture documents a second
// validation: the files are the same bytes, and the stream document is still checked.
TEST_F(CacheDirectoryTest, ADocumentTheCallerValidatedIsWrittenToTheSameBytes)
{
    const StreamAnalysis analysis = makeAnalysis(3, true);
    write(analysis);
    CacheWriteOptions validated;
    validated.documentValidated = true;
    const std::filesystem::path other = scratch.path() / "validated";
    ASSERT_FALSE(isCacheError(writeAnalysisCache(other, analysis, validated)));
    const std::set<std::string> files = filesUnder(cache);
    ASSERT_EQ(filesUnder(other), files);
    for (const std::string& name : files) {
        if (std::filesystem::is_regular_file(cache / name)) {
            EXPECT_EQ(readBytes(other / name), readBytes(cache / name)) << name;
        }
    }

    StreamAnalysis invalid = makeAnalysis(1, false);
    invalid.id = StableId{};
    expectError(errorOf(writeAnalysisCache(scratch.path() / "invalid", invalid, validated)), Kind::invalid_payload,
                "analysis document failed domain validation");
}

// Every failure before the commit leaves the previous manifest in force and
// everything it names readable.
class CacheInterruptedWriteTest : public CacheDirectoryTest {
protected:
    void SetUp() override { previous = write(makeAnalysis(2, false)); }

    void expectPreviousCacheInForce()
    {
        EXPECT_EQ(valueOf(openAnalysisCache(cache, kFingerprintA)), previous);
        for (const ManifestPictureEntry& entry : previous.pictures) {
            EXPECT_FALSE(isCacheError(readCachedPicture(cache, entry, kFingerprintA)));
        }
        for (const std::string& name : filesUnder(cache)) {
            EXPECT_EQ(name.find(".partial."), std::string::npos) << name;
        }
    }

    CacheManifest previous;
};

TEST_F(CacheInterruptedWriteTest, CancellationBeforeTheFirstPictureKeepsThePreviousManifest)
{
    int calls = 0;
    // Start, stream file (before write, before commit), then the first picture.
    options.isCancelled = [&calls] { return ++calls > 3; };
    const StreamAnalysis next = makeAnalysis(3, true);
    const CacheError error = errorOf(writeAnalysisCache(cache, next, options));
    expectError(error, Kind::cancelled, "cache write cancelled before manifest commit");
    EXPECT_EQ(error.path, cache);
    EXPECT_EQ(readStreamFile(cache), buildStreamMetaDocument(next));
    EXPECT_FALSE(std::filesystem::exists(pictureFile(3)));
    expectPreviousCacheInForce();
}

TEST_F(CacheInterruptedWriteTest, CancellationBetweenPicturesAndBeforeTheManifest)
{
    for (const int allowed : {5, 7, 9, 10, 11}) {
        SCOPED_TRACE(allowed);
        int calls = 0;
        options.isCancelled = [&calls, allowed] { return ++calls > allowed; };
        EXPECT_EQ(errorOf(writeAnalysisCache(cache, makeAnalysis(2, true), options)).kind,
                  static_cast<std::uint32_t>(Kind::cancelled));
        expectPreviousCacheInForce();
    }
}

// Pictures waiting to be staged when a cancel comes go with the rest; the write names the
// directory whose manifest it did not commit, never one of those pictures.
TEST_F(CacheInterruptedWriteTest, ACancelBetweenPicturesNamesTheDirectory)
{
    const StreamAnalysis next = makeAnalysis(6, true);
    std::set<std::string> messages;
    for (int allowed = 4; allowed < 12; ++allowed) {
        SCOPED_TRACE(allowed);
        int calls = 0;
        options.isCancelled = [&calls, allowed] { return ++calls > allowed; };
        const CacheError error = errorOf(writeAnalysisCache(cache, next, options));
        EXPECT_EQ(error.kind, static_cast<std::uint32_t>(Kind::cancelled));
        EXPECT_NE(error.path.parent_path(), cache / "pictures") << error.message;
        messages.insert(error.message);
        expectPreviousCacheInForce();
    }
    EXPECT_TRUE(messages.contains("cache write cancelled before manifest commit"));
}

TEST_F(CacheInterruptedWriteTest, PictureFilesAreReplacedOnlyOnceEveryPictureIsWritten)
{
    const std::vector<std::uint8_t> firstBefore = readBytes(pictureFile(1));
    int calls = 0;
    // Start, stream file (before write, before commit), the first picture (loop, write,
    // before commit), then the second picture's turn.
    options.isCancelled = [&calls] { return ++calls > 6; };
    EXPECT_EQ(errorOf(writeAnalysisCache(cache, makeAnalysis(2, true), options)).kind,
              static_cast<std::uint32_t>(Kind::cancelled));
    EXPECT_EQ(calls, 7);
    EXPECT_EQ(readBytes(pictureFile(1)), firstBefore);
    expectPreviousCacheInForce();

    options.isCancelled = {};
    write(makeAnalysis(2, true));
    EXPECT_NE(readBytes(pictureFile(1)), firstBefore);
}

TEST_F(CacheInterruptedWriteTest, DiskFullAtEveryFileLeavesNoTemporaryFile)
{
    const StreamAnalysis next = makeAnalysis(2, true);
    std::uint64_t needed = 0;
    {
        ScratchDirectory probe;
        valueOf(writeAnalysisCache(probe.path(), next, options));
        for (const auto& entry : std::filesystem::recursive_directory_iterator(probe.path())) {
            if (entry.is_regular_file() && entry.path().filename() != ".writer.lock") {
                needed += entry.file_size();
            }
        }
    }
    for (const std::uint64_t budget :
         {std::uint64_t{0}, std::uint64_t{63}, std::uint64_t{64}, needed / 2, needed - 1}) {
        SCOPED_TRACE(budget);
        options.simulatedDiskFullBytes = budget;
        const CacheError error = errorOf(writeAnalysisCache(cache, next, options));
        expectError(error, Kind::disk_full, "simulated disk full while writing cache file");
        EXPECT_NE(error.path.filename().string().find(".partial.16."), std::string::npos);
        expectPreviousCacheInForce();
    }
    options.simulatedDiskFullBytes = needed;
    EXPECT_FALSE(isCacheError(writeAnalysisCache(cache, next, options)));
}

TEST_F(CacheDirectoryTest, KeepsEarlierBlockStructureWhenTheNewRunHasNone)
{
    StreamAnalysis structured = makeAnalysis(2, true);
    write(structured);

    // Picture 1 comes without structure; picture 2 brings its own and keeps none of
    // the earlier one.
    StreamAnalysis indexOnly = makeAnalysis(2, true);
    std::erase_if(indexOnly.ctus, [](const CtuInfo& ctu) { return ctu.id == ids::ctu(1); });
    std::erase_if(indexOnly.cus, [](const CuInfo& cu) { return cu.parentCtuId == ids::ctu(1); });
    std::erase_if(indexOnly.pus, [](const PuInfo& pu) { return pu.id == ids::pu(1); });
    std::erase_if(indexOnly.tus, [](const TuInfo& tu) { return tu.parentCuId == ids::leafCu(1); });
    std::erase_if(indexOnly.motionVectors,
                  [](const MotionVectorInfo& mv) { return mv.id == ids::motionVector(1); });
    PictureAnalysisSummary& firstSummary = indexOnly.pictures[0];
    firstSummary.ctuCount.reset();
    firstSummary.cuCount.reset();
    firstSummary.puCount.reset();
    firstSummary.tuCount.reset();
    firstSummary.completeness = PictureCompleteness::Partial;
    for (CuInfo& cu : indexOnly.cus) {
        if (cu.qp) {
            cu.qp = 40;
        }
    }
    const CacheManifest manifest = write(indexOnly);

    const StreamAnalysis first = valueOf(readCachedPicture(cache, manifest.pictures[0]));
    const StreamAnalysis earlierFirst = buildPictureDocument(structured)[0];
    EXPECT_EQ(first.ctus, earlierFirst.ctus);
    EXPECT_EQ(first.cus, earlierFirst.cus);
    EXPECT_EQ(first.pus, earlierFirst.pus);
    EXPECT_EQ(first.tus, earlierFirst.tus);
    EXPECT_EQ(first.motionVectors, earlierFirst.motionVectors);
    EXPECT_EQ(first.pictures[0].ctuCount, 1u);
    EXPECT_EQ(first.pictures[0].cuCount, 2u);
    EXPECT_EQ(first.pictures[0].puCount, 1u);
    EXPECT_EQ(first.pictures[0].tuCount, 2u);
    EXPECT_EQ(first.pictures[0].completeness, PictureCompleteness::Partial);
    EXPECT_EQ(readStreamFile(cache).pictures[0], first.pictures[0]) << "the stream file tells of the kept blocks";

    EXPECT_EQ(valueOf(readCachedPicture(cache, manifest.pictures[1])),
              buildPictureDocument(indexOnly)[1]);
}

TEST_F(CacheDirectoryTest, DoesNotCarryStructureOverFromAnotherSource)
{
    write(makeAnalysis(1, true, kFingerprintB));
    const CacheManifest manifest = write(makeAnalysis(1, false, kFingerprintA));
    const StreamAnalysis picture =
        valueOf(readCachedPicture(cache, manifest.pictures[0], kFingerprintA));
    EXPECT_TRUE(picture.ctus.empty());
    EXPECT_FALSE(picture.pictures[0].ctuCount.has_value());
}

TEST_F(CacheDirectoryTest, WritesTheNewDocumentWhenEarlierStructureNoLongerResolves)
{
    write(makeAnalysis(2, true));
    // The new run names its slices and reference entries differently, so the earlier
    // CTUs' slice links and PUs' reference links point nowhere.
    StreamAnalysis renamed = makeAnalysis(2, false);
    for (SliceInfo& slice : renamed.slices) {
        slice.id.high = 0x44;
    }
    for (ReferencePictureEntry& entry : renamed.referencePictures) {
        entry.parentSliceId.high = 0x44;
        entry.id.high = 0x55;
    }
    for (auto& entry : renamed.shortTermReferencePictures) {
        entry.parentSliceId.high = 0x44;
    }
    for (auto& entry : renamed.longTermReferencePictures) {
        entry.parentSliceId.high = 0x44;
    }
    for (auto& entry : renamed.dpbSnapshotEntries) {
        entry.parentSliceId.high = 0x44;
    }
    for (auto& error : renamed.errors) {
        if (error.relatedObjectId && error.relatedObjectId->high == 0x4) {
            error.relatedObjectId->high = 0x44;
        }
    }

    const CacheManifest manifest = write(renamed);
    const std::vector<StreamAnalysis> expected = buildPictureDocument(renamed);
    for (std::size_t index = 0; index < 2; ++index) {
        EXPECT_EQ(valueOf(readCachedPicture(cache, manifest.pictures[index])), expected[index]);
    }
}

std::uint64_t serializedSize(const StreamAnalysis& document)
{
    return valueOf(serializeCachePayload(document, "p")).size();
}

StreamAnalysis withoutBlocks(StreamAnalysis document)
{
    clearBlockStructure(document);
    return document;
}

class CacheOversizePictureTest : public CacheDirectoryTest {
protected:
    const StreamAnalysis analysis = makeAnalysis(2, true);
    const std::vector<StreamAnalysis> pictures = buildPictureDocument(analysis);

    // Between the largest picture document without blocks and the smallest with them.
    [[nodiscard]] std::uint64_t limitThatDropsEveryPicturesBlocks() const
    {
        std::uint64_t largestBare = 0;
        std::uint64_t smallestFull = UINT64_MAX;
        for (const StreamAnalysis& picture : pictures) {
            largestBare = std::max(largestBare, serializedSize(withoutBlocks(picture)));
            smallestFull = std::min(smallestFull, serializedSize(picture));
        }
        EXPECT_LT(largestBare, smallestFull);
        return (largestBare + smallestFull) / 2;
    }
};

TEST_F(CacheOversizePictureTest, APictureOverTheLimitIsWrittenWithoutItsBlocksAndMarked)
{
    const std::uint64_t limit = limitThatDropsEveryPicturesBlocks();
    options.pictureDocumentLimitBytes = limit;
    std::vector<OmittedPictureBlocks> reported;
    options.onPictureBlocksOmitted = [&](StreamAnalysis& document, const OmittedPictureBlocks& omitted) {
        EXPECT_EQ(document.ctus.size() + document.cus.size() + document.tus.size(), 0u);
        AnalysisErrorInfo issue;
        issue.id = StableId{0x77, reported.size() + 1};
        issue.parentStreamAnalysisId = ids::kDocument;
        issue.relatedObjectId = document.pictures.front().id;
        issue.severity = 2;
        issue.code = "analyzer.picture_note";
        issue.component = "AnalyzerWorker";
        issue.message = "picture note";
        document.errors.push_back(issue);
        reported.push_back(omitted);
    };
    const CacheManifest manifest = write(analysis);

    ASSERT_EQ(reported.size(), pictures.size());
    const StreamAnalysis stream = readStreamFile(cache);
    for (std::size_t index = 0; index < pictures.size(); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(reported[index].payloadBytes, serializedSize(pictures[index]));
        EXPECT_EQ(reported[index].limitBytes, limit);
        EXPECT_EQ(reported[index].ctus, pictures[index].ctus.size());
        EXPECT_EQ(reported[index].cus, pictures[index].cus.size());
        EXPECT_EQ(reported[index].tus, pictures[index].tus.size());
        EXPECT_EQ(reported[index].motionVectors, pictures[index].motionVectors.size());

        const StreamAnalysis read = valueOf(readCachedPicture(cache, manifest.pictures[index], kFingerprintA));
        EXPECT_FALSE(hasBlockStructure(read));
        EXPECT_EQ(read.slices, pictures[index].slices);
        EXPECT_EQ(read.nalUnits, pictures[index].nalUnits);
        ASSERT_EQ(read.pictures.size(), 1u);
        EXPECT_EQ(read.pictures[0].completeness, PictureCompleteness::Partial);
        EXPECT_FALSE(read.pictures[0].ctuCount.has_value());
        EXPECT_EQ(read.errors.back().code, "analyzer.picture_note");
        EXPECT_EQ(stream.pictures[index], read.pictures[0]);
    }
}

TEST_F(CacheOversizePictureTest, APictureThatCannotFitEvenWithoutBlocksFailsTheWrite)
{
    const CacheManifest previous = write(makeAnalysis(2, false));
    // Far below any picture's summary, slices and NAL units.
    options.pictureDocumentLimitBytes = 64;
    const CacheError error = errorOf(writeAnalysisCache(cache, analysis, options));
    expectError(error, Kind::resource_limit, "cache payload exceeds configured limit");
    EXPECT_EQ(valueOf(openAnalysisCache(cache, kFingerprintA)), previous);
}

TEST_F(CacheDirectoryTest, ConcurrentWritersAlwaysLeaveAWholeCache)
{
    const StreamAnalysis structured = makeAnalysis(4, true);
    const StreamAnalysis plain = makeAnalysis(4, false);
    const StreamAnalysis otherSource = makeAnalysis(3, true, kFingerprintB);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        std::filesystem::remove_all(cache);
        std::atomic<bool> failed{false};
        const auto writer = [&](const StreamAnalysis& analysis) {
            for (int repeat = 0; repeat < 3; ++repeat) {
                if (isCacheError(writeAnalysisCache(cache, analysis, options))) {
                    failed = true;
                }
            }
        };
        std::thread first(writer, std::cref(structured));
        std::thread second(writer, std::cref(round % 2 == 0 ? plain : otherSource));
        first.join();
        second.join();
        EXPECT_FALSE(failed);

        const CacheManifest manifest = valueOf(openAnalysisCache(cache));
        for (const ManifestPictureEntry& entry : manifest.pictures) {
            const auto picture = readCachedPicture(cache, entry, manifest.sourceFingerprint);
            EXPECT_FALSE(isCacheError(picture)) << errorOf(picture).message;
        }
        EXPECT_FALSE(isCacheError(decodeCachedAnalysisPayload(
            valueOf(readCacheFile(cache / manifest.streamPath, kStreamMetaMagic)).payload, "s")));
        for (const std::string& name : filesUnder(cache)) {
            EXPECT_EQ(name.find(".partial."), std::string::npos) << name;
        }
    }
}

TEST_F(CacheDirectoryTest, ReadersSeeAWholeCacheWhileTheSameSourceIsRewritten)
{
    const StreamAnalysis structured = makeAnalysis(3, true);
    const CacheManifest initial = write(structured);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const StreamAnalysis plain = makeAnalysis(3, false);
        for (int repeat = 0; repeat < 15; ++repeat) {
            (void)writeAnalysisCache(cache, repeat % 2 == 0 ? plain : structured, options);
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        for (const ManifestPictureEntry& entry : initial.pictures) {
            const auto picture = readCachedPicture(cache, entry, kFingerprintA);
            ASSERT_FALSE(isCacheError(picture)) << errorOf(picture).message;
            ++reads;
        }
    }
    writer.join();
}

}  // namespace
}  // namespace vexilo::analysis

namespace vexilo::analysis {
namespace {

class CachePictureByPictureTest : public CacheDirectoryTest {};

TEST_F(CachePictureByPictureTest, PicturesMadeOneAtATimeWriteTheCacheOfTheWholeDocument)
{
    const StreamAnalysis whole = makeAnalysis(3, true);
    ScratchDirectory reference;
    valueOf(writeAnalysisCache(reference.path(), whole, options));

    const StreamAnalysis stream = withoutBlocks(whole);
    const PictureDocumentSplit split(whole);
    std::vector<std::size_t> made;
    const PictureDocumentMaker makePicture = [&](std::size_t index, StreamAnalysis& document) {
        made.push_back(index);
        split.fill(index, document);
    };
    valueOf(writeAnalysisCachePictureByPicture(cache, stream, makePicture, options));
    EXPECT_EQ(made, (std::vector<std::size_t>{0, 1, 2}));
    for (const std::string& name : filesUnder(reference.path())) {
        if (std::filesystem::is_regular_file(reference.path() / name) && name != ".writer.lock") {
            EXPECT_EQ(readBytes(cache / name), readBytes(reference.path() / name)) << name;
        }
    }
}

// Each picture's document is validated before it is encoded: one that does not hold
// together fails the write where it is, before anything is committed.
TEST_F(CachePictureByPictureTest, APictureThatDoesNotValidateFailsTheWriteWithItsPath)
{
    const StreamAnalysis whole = makeAnalysis(3, true);
    const StreamAnalysis stream = withoutBlocks(whole);
    const PictureDocumentSplit split(whole);
    const PictureDocumentMaker makePicture = [&](std::size_t index, StreamAnalysis& document) {
        split.fill(index, document);
        if (index == 1 && !document.cus.empty()) {
            document.cus.front().parentCtuId = ids::picture(99);
        }
    };
    const CacheError error = errorOf(writeAnalysisCachePictureByPicture(cache, stream, makePicture, options));
    EXPECT_EQ(error.kind, static_cast<std::uint32_t>(Kind::invalid_payload));
    EXPECT_EQ(error.path, pictureFile(2));
    EXPECT_TRUE(isCacheError(openAnalysisCache(cache, kFingerprintA)));
}

// Making a picture may still change its summary: the stream file, written after the pictures,
// tells of the summary the picture's file holds.
TEST_F(CachePictureByPictureTest, TheStreamFileTakesTheSummariesThePicturesWereMadeWith)
{
    const StreamAnalysis whole = makeAnalysis(2, true);
    StreamAnalysis stream = withoutBlocks(whole);
    const PictureDocumentSplit split(whole);
    const PictureDocumentMaker makePicture = [&](std::size_t index, StreamAnalysis& document) {
        stream.pictures[index].ctuCount = 7 + static_cast<std::uint32_t>(index);
        split.fill(index, document);
        document.pictures.front().ctuCount = stream.pictures[index].ctuCount;
    };
    valueOf(writeAnalysisCachePictureByPicture(cache, stream, makePicture, options));
    const StreamAnalysis written = readStreamFile(cache);
    ASSERT_EQ(written.pictures.size(), 2U);
    EXPECT_EQ(written.pictures[0].ctuCount, 7U);
    EXPECT_EQ(written.pictures[1].ctuCount, 8U);
}

}  // namespace
}  // namespace vexilo::analysis
